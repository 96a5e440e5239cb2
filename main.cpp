// Command-line entry of fluxtrim: converts the arguments, reads the samples, calibrates them
// against the local reference field and prints the result.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <ratio>
#include <stdexcept>
#include <string>

#include "FERROKIT.hpp"
#include "coreLimits.hpp"
#include "noCalibration.hpp"
#include "printable.hpp"

namespace {

const char* const kProgram = "fluxtrim.out";

// Thrown when a numeric argument does not convert; carries the one-line message to print.
struct ArgumentError {
  std::string message;
};

// The argument text as it may be echoed in a message.
std::string quoted(const char* text) {
  const std::string raw = text;
  return "'" + printableText(raw.data(), raw.data() + raw.size()) + "'";
}

// Converts one numeric argument as std::stod does (leading blanks skipped, the longest numeric
// prefix taken, inf, nan and hexadecimal forms accepted). On failure the message names the
// argument and says why.
double convertArgument(const char* name, const char* text) {
  try {
    return std::stod(text);
  } catch (const std::invalid_argument&) {
    throw ArgumentError{std::string(kProgram) + ": " + name + ": not a number: " + quoted(text)};
  } catch (const std::out_of_range&) {
    throw ArgumentError{std::string(kProgram) + ": " + name + ": out of range: " + quoted(text)};
  }
}

// Converts a coordinate of the position and refuses one that names no place: a latitude outside
// [-90, 90] degrees, or any coordinate that is NaN or infinite.
double convertPosition(const char* name, const char* text, bool isLatitude) {
  const double value = convertArgument(name, text);
  if (isLatitude && !(value >= -90.0 && value <= 90.0)) {
    throw ArgumentError{std::string(kProgram) + ": " + name +
                        ": not within [-90, 90] degrees: " + quoted(text)};
  }
  if (!std::isfinite(value)) {
    throw ArgumentError{std::string(kProgram) + ": " + name + ": not finite: " + quoted(text)};
  }
  return value;
}

// Prints the usage text on standard output: the expected arguments, a sample of the CSV input
// and an example command. Every line but the last ends with one blank.
void printUsage() {
  puts("No enough arguments, please provide: file_path.csv latitude longitude altitude ");
  puts("The input csv file format is: ");
  puts("CAP_magX,CAP_magY,CAP_magZ ");
  puts("0.171030819416046,-0.16620759665966,0.386092156171799 ");
  puts("0.171149805188179,-0.165583327412605,0.398465633392334 ");
  puts("0.17495721578598,-0.168829515576363,0.382784396409988 ");
  puts("... ");
  printf("Example for latitude longitude altitude: %f %f %f \n", 48.5578, 3.2914, 89.0);
  puts("You can find these informations at: https://www.freemaptools.com/elevation-finder.htm ");
  putchar('\n');
  puts("You have to specify a tolerance value for norm acceptance, 0.2 is the default value ");
  putchar('\n');
  puts("Full command example: ./fluxtrim.out mag.csv 42.5578 6.2914 89 0.2");
}

// Prints three values as one report line: "[ ", each value with %f and a blank, "]".
void printVectorLine(const double* values) {
  printf("[ ");
  for (int k = 0; k < 3; ++k) {
    printf("%f ", values[k]);
  }
  printf("]\n");
}

// The whole run: usage text and -22 for fewer than five arguments; otherwise converts the
// numbers, reads the CSV file, calibrates and prints the report. Returns 0 after a calibration, 2
// when the report holds none (no sample accepted, or a result that is not finite; one line on
// standard error says why), 1 when the report could not be written or the samples are too many
// for the core. Refused arguments, read errors and other exceptions are thrown to main.
int run(int argc, char** argv) {
  if (argc <= 5) {
    printUsage();
    return -22;
  }
  const std::string filePath = argv[1];
  const double latitude = convertPosition("latitude", argv[2], true);
  const double longitude = convertPosition("longitude", argv[3], false);
  const double altitude = convertPosition("altitude", argv[4], false);
  const double tolerance = convertArgument("tolerance", argv[5]);

  const auto start = std::chrono::system_clock::now();
  FERROKIT ferroKit;
  ferroKit.readMagnetometerMeasures(filePath);
  const std::size_t sampleCount = ferroKit.completeRowCount();
  if (!sampleCountFitsCore(sampleCount)) {
    std::cerr << kProgram << ": too many samples to calibrate: " << sampleCount << " rows, at most "
              << kMaxCoreSampleCount << std::endl;
    return 1;
  }
  ferroKit.magCalibration(latitude, longitude, altitude, tolerance);
  const auto end = std::chrono::system_clock::now();
  // Whole microseconds, truncated toward zero.
  const auto duration =
      std::chrono::duration_cast<std::chrono::duration<long long, std::micro>>(end - start);

  const double pi = 3.141592653589793;
  const FERROKIT::MAGRESULT& result = ferroKit.getMagCalibResult();
  printf("WMMRef[0] = %f\n", result.WMMRef[0]);
  printf("WMMRef[1] = %f\n", result.WMMRef[1]);
  printf("WMMRef[2] = %f\n", result.WMMRef[2]);
  printf("WMMRefNorm = %f\n", result.WMMRefNorm);
  printf("WMMRefHorizNorm = %f\n", result.WMMRefHorizNorm);
  printf("WMMRefVerticalNorm = %f\n", result.WMMRefVerticalNorm);
  printf("inclination = %f\n", result.inclination * 180.0 / pi);
  printf("declination = %f\n", 180.0 * result.declination / pi);
  printf("magNormRef = %f\n", result.magNormRef);
  printf("magNormRefHoriz = %f\n", result.magNormRefHoriz);
  printf("magNormRefVertical = %f\n", result.magNormRefVertical);
  printf("hardIronOffset:\n");
  printVectorLine(result.hardIronOffset);
  printf("SoftIronMatrix:\n");
  for (int row = 0; row < 3; ++row) {
    printVectorLine(result.softIronMatrix[row].data());
  }
  printf("Execution time : %lld us \n", duration.count());
  printf("Calibration done\n");
  printf("You can use the calibration result with: \n");
  printf("(MagVector3 - hardIronOffset) * SoftIronMatrix \n");
  // The numbers are meant to be copied from the report: one that did not reach its destination
  // (a full disk, a closed pipe) must not end as a success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    const int writeError = errno;
    std::cerr << kProgram << ": cannot write the report: " << std::strerror(writeError)
              << std::endl;
    return 1;
  }
  if (!result.isCalibrationSucess) {
    std::cerr << kProgram << ": no calibration: " << noCalibrationReason(ferroKit, tolerance)
              << std::endl;
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const ArgumentError& error) {
    std::cerr << error.message << std::endl;
  } catch (const std::bad_alloc&) {
    std::cerr << kProgram << ": out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << kProgram << ": " << error.what() << std::endl;
  } catch (...) {
    std::cerr << kProgram << ": unexpected error" << std::endl;
  }
  return 1;
}
