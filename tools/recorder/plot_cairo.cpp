// The plot drawn with cairo.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "plot.h"

namespace corvane::recorder {
namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1000;
constexpr double kLeft = 90, kRight = 30, kTop = 60, kBottom = 60, kPanelGap = 70;

struct Colour {
  double r, g, b;
};
constexpr Colour kFingerColour{0.55, 0.55, 0.60};
constexpr Colour kSystolicColour{0.80, 0.10, 0.10};
constexpr Colour kMeanColour{0.10, 0.55, 0.15};
constexpr Colour kDiastolicColour{0.10, 0.25, 0.80};
constexpr Colour kHeartRateColour{0.75, 0.35, 0.00};

struct Panel {
  double x, y, width, height;  // plotting area, pixels
  double low, high;            // value range, bottom to top
  double seconds;              // time range, 0 to this

  double X(double t) const { return x + t / seconds * width; }
  double Y(double v) const { return y + height - (v - low) / (high - low) * height; }
};

void SetColour(cairo_t* cr, const Colour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

std::string TickText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

void ShowText(cairo_t* cr, double x, double y, const std::string& text, double alignX,
              double alignY) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - extents.width * alignX - extents.x_bearing,
                y + extents.height * alignY);
  cairo_show_text(cr, text.c_str());
}

// The range of the values of the given series, widened a little; `fallback`
// when there are none.
void Range(std::initializer_list<const std::vector<float>*> series, double fallbackLow,
           double fallbackHigh, double& low, double& high) {
  low = std::numeric_limits<double>::infinity();
  high = -low;
  for (const auto* values : series) {
    for (const float v : *values) {
      if (std::isnan(v)) continue;
      low = std::min(low, static_cast<double>(v));
      high = std::max(high, static_cast<double>(v));
    }
  }
  if (!(high >= low)) {
    low = fallbackLow;
    high = fallbackHigh;
  }
  const double margin = std::max(2.0, (high - low) * 0.05);
  low -= margin;
  high += margin;
}

void DrawAxes(cairo_t* cr, const Panel& p, const std::string& title, const std::string& yLabel) {
  cairo_set_line_width(cr, 1);
  cairo_set_font_size(cr, 13);
  for (const double v : AxisTicks(p.low, p.high, 6)) {
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_move_to(cr, p.x, std::round(p.Y(v)) + 0.5);
    cairo_line_to(cr, p.x + p.width, std::round(p.Y(v)) + 0.5);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    ShowText(cr, p.x - 8, p.Y(v), TickText(v), 1.0, 0.5);
  }
  for (const double t : AxisTicks(0, p.seconds, 10)) {
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_move_to(cr, std::round(p.X(t)) + 0.5, p.y);
    cairo_line_to(cr, std::round(p.X(t)) + 0.5, p.y + p.height);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    ShowText(cr, p.X(t), p.y + p.height + 8, TickText(t), 0.5, 1.0);
  }
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_rectangle(cr, p.x + 0.5, p.y + 0.5, p.width, p.height);
  cairo_stroke(cr);
  ShowText(cr, p.x + p.width / 2, p.y + p.height + 30, "time (s)", 0.5, 1.0);
  cairo_save(cr);
  cairo_translate(cr, p.x - 60, p.y + p.height / 2);
  cairo_rotate(cr, -M_PI / 2);
  ShowText(cr, 0, 0, yLabel, 0.5, 0.5);
  cairo_restore(cr);
  cairo_set_font_size(cr, 16);
  ShowText(cr, p.x, p.y - 12, title, 0.0, 0.0);
}

// A series, one sample per row: where many samples fall on one pixel column
// the column shows their whole span, so narrow peaks stay visible.
void DrawSeries(cairo_t* cr, const Panel& p, const std::vector<float>& values, const Colour& c,
                double lineWidth) {
  SetColour(cr, c);
  cairo_set_line_width(cr, lineWidth);
  cairo_rectangle(cr, p.x, p.y, p.width, p.height);
  cairo_save(cr);
  cairo_clip(cr);
  bool drawing = false;
  long column = -1;
  float first = 0, lowest = 0, highest = 0, last = 0;
  const auto flush = [&] {
    if (column < 0) return;
    const double x = p.x + static_cast<double>(column);
    if (!drawing) cairo_move_to(cr, x, p.Y(first));
    for (const float v : {first, lowest, highest, last}) cairo_line_to(cr, x, p.Y(v));
    drawing = true;
  };
  for (size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    if (std::isnan(v)) {
      flush();
      column = -1;
      drawing = false;
      continue;
    }
    const auto at = static_cast<long>(p.X(static_cast<double>(i) / kSampleRate) - p.x);
    if (at != column) {
      flush();
      column = at;
      first = lowest = highest = v;
    }
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
    last = v;
  }
  flush();
  cairo_stroke(cr);
  cairo_restore(cr);
}

void DrawLegend(cairo_t* cr, const Panel& p,
                std::initializer_list<std::pair<const char*, Colour>> entries) {
  cairo_set_font_size(cr, 13);
  double x = p.x + p.width - 10;
  for (auto it = std::rbegin(entries); it != std::rend(entries); ++it) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, it->first, &extents);
    x -= extents.x_advance;
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    ShowText(cr, x, p.y - 18, it->first, 0.0, 0.5);
    x -= 28;
    SetColour(cr, it->second);
    cairo_set_line_width(cr, 3);
    cairo_move_to(cr, x, p.y - 18);
    cairo_line_to(cr, x + 22, p.y - 18);
    cairo_stroke(cr);
    x -= 20;
  }
}

}  // namespace

bool WritePlot(const std::string& path, const PlotData& data, const std::string& title,
               std::string& error) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

  const double seconds = std::max(1.0, static_cast<double>(data.Size()) / kSampleRate);
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom - kPanelGap;
  Panel pressure{kLeft, kTop, plotWidth, std::round(plotHeight * 0.68), 0, 0, seconds};
  Panel rate{kLeft, pressure.y + pressure.height + kPanelGap, plotWidth,
             plotHeight - pressure.height, 0, 0, seconds};
  Range({&data.finger, &data.systolic, &data.diastolic, &data.mean}, 0, 200, pressure.low,
        pressure.high);
  Range({&data.heartRate}, 40, 120, rate.low, rate.high);

  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_set_font_size(cr, 20);
  ShowText(cr, kLeft, 22, title, 0.0, 0.5);

  DrawAxes(cr, pressure, "Finger blood pressure", "pressure (mmHg)");
  DrawSeries(cr, pressure, data.finger, kFingerColour, 1.0);
  DrawSeries(cr, pressure, data.systolic, kSystolicColour, 2.0);
  DrawSeries(cr, pressure, data.mean, kMeanColour, 2.0);
  DrawSeries(cr, pressure, data.diastolic, kDiastolicColour, 2.0);
  DrawLegend(cr, pressure, {{"finger pressure", kFingerColour},
                            {"systolic", kSystolicColour},
                            {"mean", kMeanColour},
                            {"diastolic", kDiastolicColour}});

  DrawAxes(cr, rate, "Heart rate", "heart rate (bpm)");
  DrawSeries(cr, rate, data.heartRate, kHeartRateColour, 2.0);

  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  // The plot is drawn once, at the end: the font caches can go.
  cairo_debug_reset_static_data();
  FcFini();
  if (status != CAIRO_STATUS_SUCCESS) {
    error = "cannot write " + path + ": " + cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace corvane::recorder
