/// @file
/// A calibration report for a person to look at: one self-contained HTML page.
#ifndef FLUXTRIM_REPORT_HPP
#define FLUXTRIM_REPORT_HPP

#include <string>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim {

/// How the report shows the samples.
struct ReportOptions {
  /// The corrected samples of the projections in the accelerometer's axes, turned by the
  /// estimated mounting (v_acc = matrix * corrected, AccelerometerFindings::mounting, which must
  /// be determined). The raw samples, the coverage map and every figure stay in the
  /// magnetometer's axes.
  bool accelerometerFrame = false;
};

/// The HTML page (UTF-8) of a calibration:
/// - the verdict, and its reasons with their actions;
/// - the calibration as text to copy, with its convention corrected = (raw - offset) * matrix,
///   the model, and the reference used (model, date and position), with the key figures;
/// - the raw and the corrected samples in three projections (XY, YZ, XZ) on one scale, with the
///   circle of the fitted radius, the offset marked and the rejected samples in their own marks;
/// - histograms of the raw and corrected magnitudes, and of the measure of each acceptance
///   window, with the reference's strength and the windows marked;
/// - the corrected directions on an equal-area map of the sphere, the cells that no kept sample
///   reached shaded and the largest gap marked with its direction;
/// - every check with its value and limit, the three model fits, and how the input was read;
/// - with an accelerometer, the mounting and the inclination; for a calibration from a turn
///   about one axis, the turn and what it could not determine.
/// The page loads nothing: CSS and SVG are inline, and a short inline script only adds a copy
/// button (the page is complete without scripts). It prints on A4.
/// Deterministic: the same arguments give the same bytes. Numbers are written independently of
/// the locale and the page holds no time stamp. The plots draw at most a few thousand samples,
/// evenly spread over the recording, and the histograms count every sample, so the page stays
/// under about 1 MB for any number of samples.
/// samples and options are those the result was computed from; quantities are shown in the
/// samples' unit (result.unit). Throws UsageError when result.status does not hold one status per
/// sample of samples, and for the accelerometer's frame without a determined mounting.
std::string reportHtml(const SampleSet& samples, const CalibrationOptions& options,
                       const CalibrationResult& result, const ReportOptions& view = {});

/// Writes reportHtml(samples, options, result, view) to the file at path, replacing its
/// contents. Throws UsageError as reportHtml does, and IoError naming the path when the file
/// cannot be opened or written completely.
void writeReport(const std::string& path, const SampleSet& samples,
                 const CalibrationOptions& options, const CalibrationResult& result,
                 const ReportOptions& view = {});

}  // namespace fluxtrim

#endif
