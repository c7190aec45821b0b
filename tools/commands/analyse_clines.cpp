#include "tools/commands/analyse_clines.h"

#include "driver/schedule.h"
#include "tools/analysis/descriptive_fit.h"
#include "tools/analysis/plot.h"
#include "tools/analysis/plot_cline.h"
#include "tools/commands/cline_report.h"

ClineFitter descriptiveClineFitter(const DataContext& data) {
    return [&data](const std::string& shape, const std::string& recordPath,
                   const std::string& figurePath, std::string& error) {
        ClineTails tails = ClineTails::none;
        if ((shape != "sigmoid" && shape != "stepped") || !parseTails(shape, tails)) {
            error = "no descriptive cline of shape '" + shape + "'";
            return false;
        }
        const Transect& transect = data.data();
        const ClineForm form{tails, DeficitShape::constant, false};
        DescriptiveFit fit = fitCline(form, clineData(transect, ClineAxis::position));
        fit.axis = ClineAxis::position;
        fit.locus = data.locus;
        ClineRun run;
        run.axis = ClineAxis::position;
        run.hasLoci = !data.locus.empty();
        run.fits = {fit};
        // The figure is drawn from the record, as 'zonetool plot --cline' draws it.
        PlotInput input;
        return writeResultFile(recordPath,
                               clineRecordJson(run, data.commandLine, data.path, data.checksum),
                               error) &&
               clinePlotInput(transect, recordPath, data.locus, data.checksum, input, error) &&
               writeResultFile(figurePath, renderSvg(input), error);
    };
}
