// The transect the objectives read on the calling thread: the built-in data set unless a
// TransectScope has installed another one.
#pragma once

#include "data/transect_file.h"

// The built-in data set as a Transect, made once and kept for the life of the process.
const Transect& builtInTransectValue();

// The transect of the calling thread: that of the innermost live TransectScope on this
// thread, else the built-in one.
const Transect& activeTransect();

// The largest of 0 and the site positions of `transect`: where the kernel models' grid ends.
double largestPosition(const Transect& transect);

// The sum of the distances of `transect`, added in site order: the length of the
// stepping-stone row.
double totalDistance(const Transect& transect);

// Installs `transect` (null for the built-in one) as the calling thread's transect for the
// guard's lifetime; the previous one comes back when it ends. The caller keeps `transect`
// alive meanwhile. Each thread has its own; guards nest.
class TransectScope {
  public:
    explicit TransectScope(const Transect* transect);
    ~TransectScope();
    TransectScope(const TransectScope&) = delete;
    TransectScope& operator=(const TransectScope&) = delete;

  private:
    const Transect* previous_;
};
