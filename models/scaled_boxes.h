// The parameter boxes of the ten models for a transect other than the built-in one: bounds
// in length units scale with the length of the transect, deme indices with its number of
// sites, and single bounds may be set by hand.
#pragma once

#include "data/transect_file.h"
#include "models/model_table.h"

#include <string>
#include <vector>

// How much longer a transect is than the built-in one, as the models measure it.
struct TransectScale {
    double kernel = 1.0;   // largest position over that of the built-in transect (models 7-10)
    double stepping = 1.0; // sum of distances over that of the built-in transect (models 1-6)
    double demes = 1.0;    // number of sites over 105 (deme indices of model 2)
};

// The scale of `transect` against the built-in one.
TransectScale transectScale(const Transect& transect);

// The ten boxes as one owned set, ready for a model context (models/model_context.h). Copies keep
// their own parameters.
class BoxSet {
  public:
    // The built-in boxes.
    BoxSet();
    BoxSet(const BoxSet& other);
    BoxSet& operator=(const BoxSet& other);

    // modelCount boxes, the box of model n at index n - 1; valid while this set lives
    // unchanged.
    const ModelBox* boxes() const { return boxes_; }

    // Multiplies every bound in length units by the scale factor of the model's geometry:
    // sigma of every model, the contact and the border positions of models 7 to 10. The
    // border deme of model 2 is multiplied by `scale.demes`. Open and closed bounds stay so.
    // The exploration regions of these parameters scale alike, so that they stay in their
    // boxes.
    void scale(const TransectScale& scale);

    // Sets both bounds of every parameter called `name`, in every model that has one (all
    // models when `model` is 0, else model `model` only), keeping whether each bound is open.
    // The exploration regions stay; searches use their part inside the new box
    // (regionInBox). Returns how many parameters were changed.
    int override(const std::string& name, double lower, double upper, int model = 0);

  private:
    void bind();
    std::vector<ParameterInfo> parameters_[modelCount];
    ModelBox boxes_[modelCount];
};
