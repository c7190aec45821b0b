#include "tools/commands/cline_command.h"

#include "data/locus_transects.h"
#include "driver/schedule.h"
#include "tools/analysis/compare.h"
#include "tools/commands/cline_report.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/table.h"

#include <cstdio>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

const char* const clineHelp =
    "Usage: zonetool cline [--data FILE] [--locus NAME]\n"
    "                      [--shape sigmoid|stepped-left|stepped-right|stepped]\n"
    "                      [--fis constant|peak] [--ends fixed|free]\n"
    "                      [--axis position|distance] [--format table|tsv|json] [--redo]\n"
    "\n"
    "Fits descriptive clines to the genotype counts by maximum likelihood, with the models'\n"
    "own likelihood (multinomial, without the coefficient, summed over the sites), so that\n"
    "-lnL and AICc compare with those of 'zonetool compare'. The allele frequency is\n"
    "  p(x) = pmin + (pmax - pmin) / (1 + exp(-4 (x - centre) / width)),\n"
    "with exponential tails beyond centre - delta_left and centre + delta_right for the\n"
    "stepped shapes, and the genotype frequencies SS = p^2 + F p q, SI = 2 p q (1 - F),\n"
    "II = q^2 + F p q (q = 1 - p; p is the frequency of the allele that rises along the axis).\n"
    "Every parameter gets its support limits: where -lnL, the others refitted, rises 2 above\n"
    "its minimum. Without --shape all four shapes are fitted. A file with a locus column is\n"
    "fitted locus by locus, and the loci are tested for one shared centre and width\n"
    "(likelihood ratio on 2 (loci - 1) df, and AICc of shared against separate). Each shape's\n"
    "fits are recorded in cline_SHAPE.json (_Fpeak, _free added for those options), which\n"
    "'zonetool compare' lists beside the mechanistic fits; an existing record is not\n"
    "overwritten without --redo.\n"
    "\n"
    "Options:\n"
    "  --data FILE    the transect file (default: the built-in transect); it may carry a\n"
    "                 column 'locus', one row per site and locus\n"
    "  --locus NAME   fit only this locus of the file\n"
    "  --shape S      sigmoid, stepped-left, stepped-right or stepped (default: all four)\n"
    "  --fis K        constant (one F everywhere, default) or peak (F_peak 4u(1-u), u the\n"
    "                 central sigmoid: largest at the centre)\n"
    "  --ends E       fixed (pmin = 0, pmax = 1, default) or free\n"
    "  --axis A       position (the position column, default) or distance (the distances\n"
    "                 between neighbouring sites summed from the first site)\n"
    "  --format F     table (default), tsv or json\n"
    "  --redo         overwrite existing records\n";

namespace {

struct ClineOptions {
    std::string data;
    std::string locus;
    std::vector<ClineTails> shapes;
    DeficitShape deficit = DeficitShape::constant;
    bool freeEnds = false;
    ClineAxis axis = ClineAxis::position;
    TableFormat format = TableFormat::table;
    bool redo = false;
};

int readClineOptions(const RunContext& ctx, const std::vector<std::string>& args, ClineOptions& o) {
    ClineTails shape = ClineTails::none;
    return OptionParser(
               "cline", [] { return std::string(clineHelp); }, *ctx.out, *ctx.err)
        .value({"--data"}, "a file name",
               [&o](const std::string& name, const std::string& value) -> Problem {
                   if (!o.data.empty()) {
                       return name + " is given twice";
                   }
                   o.data = value;
                   return value.empty() ? name + " needs a file name" : "";
               })
        .value({"--locus"}, "a locus name",
               [&o](const std::string& name, const std::string& value) -> Problem {
                   if (!o.locus.empty()) {
                       return name + " is given twice";
                   }
                   o.locus = value;
                   return value.empty() ? name + " needs a locus name" : "";
               })
        .value({"--shape"}, "sigmoid, stepped-left, stepped-right or stepped",
               [&o, shape](const std::string& name, const std::string& value) mutable -> Problem {
                   if (!parseTails(value, shape)) {
                       return name +
                              " needs sigmoid, stepped-left, stepped-right or stepped, "
                              "not '" +
                              value + "'";
                   }
                   o.shapes.push_back(shape);
                   return "";
               })
        .value({"--fis"}, "constant or peak",
               storeChoice(o.deficit,
                           {{"constant", DeficitShape::constant}, {"peak", DeficitShape::peak}},
                           "constant or peak"))
        .value({"--ends"}, "fixed or free",
               storeChoice(o.freeEnds, {{"fixed", false}, {"free", true}}, "fixed or free"))
        .value({"--axis"}, "position or distance",
               storeChoice(o.axis,
                           {{"position", ClineAxis::position}, {"distance", ClineAxis::distance}},
                           "position or distance"))
        .value({"--format"}, "table, tsv or json",
               storeChoice(o.format,
                           {{"table", TableFormat::table},
                            {"tsv", TableFormat::tsv},
                            {"json", TableFormat::json}},
                           "table, tsv or json"))
        .flag({"--redo"}, [&o] { o.redo = true; })
        .check([&o]() -> Problem {
            return !o.locus.empty() && o.data.empty()
                       ? "--locus needs --data FILE, a file with a locus column"
                       : "";
        })
        .parse(args);
}

// The file's loci (one unnamed for a file without loci, or the built-in transect) and the
// checksum of its bytes; a failure is named on `err`.
bool readLoci(std::ostream& err, const ClineOptions& o, std::vector<LocusTransect>& loci,
              std::string& checksum) {
    if (o.data.empty()) {
        loci.assign(1, LocusTransect{"", builtInTransect()});
        return true;
    }
    std::string error;
    struct stat info;
    std::FILE* file = stat(o.data.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
                          ? nullptr
                          : std::fopen(o.data.c_str(), "rb");
    if (file == nullptr) {
        Transect unused;
        readTransectFile(o.data, unused, error); // words the failure
        err << error << "\n";
        return false;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    std::istringstream text(bytes);
    if (failed) {
        err << "Error in " << o.data << ": cannot read the file\n";
        return false;
    }
    if (!readLocusTransects(text, o.data, loci, error)) {
        err << error << "\n";
        return false;
    }
    if (!o.locus.empty()) {
        LocusTransect chosen{o.locus, {}};
        if (!selectLocus(loci, o.data, o.locus, chosen.transect, error)) {
            err << error << "\n";
            return false;
        }
        loci.assign(1, chosen);
    }
    checksum = "fnv1a64:" + fnv1a64(bytes);
    return true;
}

} // namespace

int clineCommand(RunContext& ctx, const std::vector<std::string>& args) {
    ClineOptions o;
    const int status = readClineOptions(ctx, args, o);
    if (status >= 0) {
        return status;
    }
    if (o.shapes.empty()) {
        o.shapes = {ClineTails::none, ClineTails::left, ClineTails::right, ClineTails::both};
    }
    std::vector<LocusTransect> loci;
    std::string checksum;
    if (!readLoci(*ctx.err, o, loci, checksum)) {
        return 1;
    }
    const bool hasLoci = !loci.front().locus.empty();
    std::vector<std::string> names;
    for (ClineTails shape : o.shapes) {
        names.push_back(clineRecordName(ClineForm{shape, o.deficit, o.freeEnds}));
    }
    if (!o.redo) {
        bool clear = true;
        for (const std::string& name : names) {
            struct stat info;
            if (lstat(name.c_str(), &info) == 0) {
                *ctx.err << "zonetool cline: " << name
                         << " exists already; give --redo to overwrite it\n";
                clear = false;
            }
        }
        if (!clear) {
            return 1;
        }
    }
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "cline", names)) {
        return 1;
    }
    std::vector<ClineData> data;
    for (const LocusTransect& locus : loci) {
        data.push_back(clineData(locus.transect, o.axis));
    }
    ClineRun all;
    all.axis = o.axis;
    all.hasLoci = hasLoci;
    std::vector<ClineRun> runs;
    for (ClineTails shape : o.shapes) {
        ClineRun run;
        run.axis = o.axis;
        run.hasLoci = hasLoci;
        for (std::size_t l = 0; l < loci.size(); l++) {
            DescriptiveFit fit = fitCline(ClineForm{shape, o.deficit, o.freeEnds}, data[l]);
            fit.axis = o.axis;
            fit.locus = loci[l].locus;
            run.fits.push_back(fit);
        }
        if (loci.size() > 1) {
            run.concordance = testConcordance(data, run.fits);
        }
        all.fits.insert(all.fits.end(), run.fits.begin(), run.fits.end());
        if (!all.concordance) {
            all.concordance = run.concordance;
        }
        runs.push_back(run);
    }
    for (std::size_t s = 0; s < runs.size(); s++) {
        std::string error;
        if (!writeResultFile(names[s],
                             clineRecordJson(runs[s], ctx.data.commandLine, o.data, checksum),
                             error)) {
            *ctx.err << "zonetool cline: cannot save " << names[s] << ": " << error << "\n";
            return 1;
        }
    }
    *ctx.out << (o.format == TableFormat::json  ? clineJson(all)
                 : o.format == TableFormat::tsv ? clineTsv(all)
                                                : clineTable(all));
    return 0;
}
