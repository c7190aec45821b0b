// The descriptive clines of `zonetool analyse`: the fits of 'zonetool cline', with its records.
#pragma once

#include "tools/analysis/analyse_run.h"
#include "tools/formats/data_option.h"

// The clines stage's work on the transect of `data` (not owned; it must outlive the fitter):
// the cline of the shape fitted along the position axis with a constant F and fixed ends, with
// its support limits; its record as 'zonetool cline' writes it, and its figure as 'zonetool
// plot --cline' draws it from that record.
ClineFitter descriptiveClineFitter(const DataContext& data);
