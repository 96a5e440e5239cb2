/// @file
/// The whole public interface of the fluxtrim library.
#ifndef FLUXTRIM_FLUXTRIM_HPP
#define FLUXTRIM_FLUXTRIM_HPP

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/diagnostics.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/live.hpp"
#include "fluxtrim/report.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"
#include "fluxtrim/vehicle.hpp"
#include "fluxtrim/version.hpp"

#endif
