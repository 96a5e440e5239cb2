#include "FERROKIT.hpp"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <filesystem>

FERROKIT::FERROKIT() = default;

FERROKIT::~FERROKIT() = default;

// Reads the file twice: once to count its newline characters, which sizes the three columns to
// that count plus one, and once to parse each line. A directory opens on some platforms but has
// no content to read; it is reported like a file that cannot be opened.
bool FERROKIT::readMagnetometerMeasures(std::string filepath) {
  std::ifstream file;
  std::error_code directoryError;
  if (!std::filesystem::is_directory(filepath, directoryError)) {
    file.open(filepath);
  }
  const bool isOpen = file.is_open();
  if (!isOpen) {
    std::cerr << "Can not open csv file" << std::endl;
    return false;
  }

  const std::size_t lineNumber = static_cast<std::size_t>(
      std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n'));
  for (std::vector<double>& column : mMagnetometerMeasures) {
    column.resize(lineNumber + 1);
  }
  file.clear();
  file.seekg(0, std::ios::beg);

  std::string line;
  std::string word;
  std::uint64_t counterLine = 0;
  const std::uint64_t rowCount = mMagnetometerMeasures[0].size();
  // The bound only matters if the file grew between the two passes.
  while (counterLine < rowCount && std::getline(file, line)) {
    std::stringstream str(line, std::ios::in | std::ios::out);
    for (std::uint8_t counterDataPerLine = 0; counterDataPerLine < 3; ++counterDataPerLine) {
      if (!std::getline(str, word, ',')) {
        break;
      }
      try {
        const double addedValue = std::stod(word);
        mMagnetometerMeasures[counterDataPerLine][counterLine] = addedValue;
      } catch (const std::invalid_argument&) {
        std::cerr << "Header : " << word << '\n';
      } catch (const std::out_of_range&) {
        std::cerr << "Header : " << word << '\n';
      }
    }
    ++counterLine;
  }
  file.close();
  return true;
}

void FERROKIT::magCalibration(double latitude, double longitude, double height, double tolerance) {
  (void)latitude;
  (void)longitude;
  (void)height;
  (void)tolerance;
}
