// One panel of a figure: where its data land on the page, its axes, and the lines and bands
// drawn in it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// A panel's rectangle on the page (pixels) and the data ranges it shows: x from x0 to x1,
// y from 0 to 1.
struct PlotFrame {
    double left = 80;   // pixels from the page's left edge to the panel
    double top = 78;    // and from the page's top edge
    double width = 660; // the panel's size in pixels
    double height = 400;
    double x0 = 0.0; // data value at the left edge of the panel
    double x1 = 1.0; // and at the right edge
    std::vector<double> xTicks;

    double px(double x) const { return left + (x - x0) / (x1 - x0) * width; }
    double py(double y) const { return top + (1.0 - y) * height; }
};

// Grid, ticks and tick labels of `frame` (y ticks at 0, 0.2, ..., 1) and the titles of both
// axes, in groups with ids `id` and `id`-labels. The titles are escaped here.
void writePanelAxes(std::ostream& svg, const PlotFrame& frame, const std::string& id,
                    const std::string& xLabel, const std::string& yLabel);

// A polyline with id `id` and presentation attributes `style` through (x[k], y[k]) in order.
std::string framePolyline(const PlotFrame& frame, const std::string& id, const std::string& style,
                          const std::vector<double>& x, const std::vector<double>& y);

// A closed band with id `id` and attributes `style`: along `high` from left to right, back
// along `low`. Empty text for no points.
std::string frameBand(const PlotFrame& frame, const std::string& id, const std::string& style,
                      const std::vector<double>& x, const std::vector<double>& low,
                      const std::vector<double>& high);
