// Recordings as hobbyists' loggers write them, from the generated IMU recordings of
// imu_recording.h: a headerless nine-axis CSV, Raw: lines behind a banner, a serial monitor's
// alternating "Accel X:" and "Mag X:" lines, Raw: and Uni: lines alternating, a phone's export with
// its columns in z, y, x order, named columns with units, raw counts of a sensor at 1090 counts
// per gauss; and lines that name their values: tab-separated "X: .. \tY: .." lines, key=value
// pairs of three sensors, bracketed groups, JSON objects, a serial monitor's time stamps before
// CSV, a unit after each value, and a robot's MagneticField export in tesla. The magnetometer is
// written in microtesla unless the layout says otherwise.
#ifndef FLUXTRIM_TESTS_LOGGER_LAYOUTS_H
#define FLUXTRIM_TESTS_LOGGER_LAYOUTS_H

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "imu_recording.h"

namespace logger_layouts {

using imu_recording::Vec3;

// One sample of the device: the accelerometer in m/s^2, the gyroscope in degrees per second, the
// magnetometer in microtesla.
struct Row {
  double time_s;
  Vec3 accel;
  Vec3 gyro;
  Vec3 mag_uT;
};

// The rows of a device tumbled by hand through `poses` poses (35 rows each), its magnetometer
// offset by (12, -7.5, 20) uT, at 50 Hz.
inline std::vector<Row> tumbledRows(int poses = 12) {
  imu_recording::Device device;
  device.hardIron = {{0.12, -0.075, 0.2}};
  const std::vector<imu_recording::Sample> samples = device.handTumble(poses, 20, 15);
  std::vector<Row> rows;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const imu_recording::Sample& s = samples[k];
    const double turn = 0.01 * static_cast<double>(k);
    rows.push_back(Row{0.02 * static_cast<double>(k),
                       s.accel,
                       {{std::sin(turn), std::cos(turn), -std::sin(turn)}},
                       {{100.0 * s.mag[0], 100.0 * s.mag[1], 100.0 * s.mag[2]}}});
  }
  return rows;
}

inline std::string printed(const char* format, double a, double b, double c) {
  char line[160];
  std::snprintf(line, sizeof line, format, a, b, c);
  return line;
}

inline std::string headerlessImu(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += printed("%.0f,", 1000.0 * r.time_s, 0, 0) +
            printed("%.3f,%.3f,%.3f,", r.accel[0], r.accel[1], r.accel[2]) +
            printed("%.2f,%.2f,%.2f,", r.gyro[0], r.gyro[1], r.gyro[2]) +
            printed("%.3f,%.3f,%.3f\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// "Raw:" lines of nine integers: the accelerometer at 8192 counts per g (held still, as a
// logger's first reading would be), the gyroscope in sixteenths of a degree per second, the
// magnetometer in tenths of a microtesla.
inline std::string rawLine(const Row& r, const Row& still) {
  std::string line = "Raw:";
  const double perMps2 = 8192.0 / imu_recording::kGravity;
  for (int k = 0; k < 3; ++k) line += printed("%.0f,", std::round(still.accel[k] * perMps2), 0, 0);
  for (int k = 0; k < 3; ++k) line += printed("%.0f,", std::round(16.0 * r.gyro[k]), 0, 0);
  line += printed("%.0f,%.0f,%.0f\n", std::round(10.0 * r.mag_uT[0]),
                  std::round(10.0 * r.mag_uT[1]), std::round(10.0 * r.mag_uT[2]));
  return line;
}

inline std::string rawWithBanner(const std::vector<Row>& rows) {
  std::string text = "IMU logger 1.2\nsensors ready, streaming\n\n";
  for (const Row& r : rows) text += rawLine(r, rows.front());
  return text;
}

inline std::string alternatingSerial(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += printed("Accel X: %.3f  Y: %.3f  Z: %.3f m/s^2\n", r.accel[0], r.accel[1], r.accel[2]);
    text += printed("Mag X: %.3f  Y: %.3f  Z: %.3f uT\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

inline std::string rawAndUni(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += rawLine(r, rows.front());
    text += printed("Uni:%.4f,%.4f,%.4f,", r.accel[0], r.accel[1], r.accel[2]) +
            printed("%.4f,%.4f,%.4f,", r.gyro[0], r.gyro[1], r.gyro[2]) +
            printed("%.4f,%.4f,%.4f\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// A phone app's export: nanosecond time stamps, seconds elapsed, then z, y and x.
inline std::string phoneExport(const std::vector<Row>& rows) {
  std::string text = "time,seconds_elapsed,z,y,x\n";
  for (const Row& r : rows) {
    text += printed("%.0f,%.3f,", 1.7e18 + 1e9 * r.time_s, r.time_s, 0) +
            printed("%.4f,%.4f,%.4f\n", r.mag_uT[2], r.mag_uT[1], r.mag_uT[0]);
  }
  return text;
}

inline std::string namedWithUnits(const std::vector<Row>& rows) {
  std::string text =
      "Time (s),Accelerometer X (m/s^2),Accelerometer Y (m/s^2),Accelerometer Z (m/s^2),"
      "Magnetometer X (uT),Magnetometer Y (uT),Magnetometer Z (uT)\n";
  for (const Row& r : rows) {
    text += printed("%.2f,", r.time_s, 0, 0) +
            printed("%.3f,%.3f,%.3f,", r.accel[0], r.accel[1], r.accel[2]) +
            printed("%.3f,%.3f,%.3f\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// Raw counts at 1090 counts per gauss, 10.9 per microtesla.
inline std::string sensorCounts(const std::vector<Row>& rows) {
  std::string text = "x,y,z\n";
  for (const Row& r : rows) {
    text += printed("%.0f,%.0f,%.0f\n", std::round(10.9 * r.mag_uT[0]),
                    std::round(10.9 * r.mag_uT[1]), std::round(10.9 * r.mag_uT[2]));
  }
  return text;
}

// "X: 12.3 \tY: -4.5 \tZ: 40.1 uTesla": labelled values between tabs.
inline std::string tabLabelled(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += printed("X: %.3f \tY: %.3f \tZ: %.3f uTesla\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// key=value pairs of three sensors and a temperature, the magnetometer's in z, x, y order.
inline std::string keyValuePairs(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += printed("ax=%.3f ay=%.3f az=%.3f ", r.accel[0], r.accel[1], r.accel[2]) +
            printed("gx=%.2f gy=%.2f gz=%.2f temp=24.5 ", r.gyro[0], r.gyro[1], r.gyro[2]) +
            printed("mz=%.3f mx=%.3f my=%.3f\n", r.mag_uT[2], r.mag_uT[0], r.mag_uT[1]);
  }
  return text;
}

// Three bracketed groups on each line, the unit of each after it.
inline std::string groupedSensors(const std::vector<Row>& rows) {
  std::string text = "sensor stream v3\n";
  for (const Row& r : rows) {
    text += printed("acc: [%.3f, %.3f, %.3f] m/s^2 ", r.accel[0], r.accel[1], r.accel[2]) +
            printed("gyro: [%.2f, %.2f, %.2f] dps ", r.gyro[0], r.gyro[1], r.gyro[2]) +
            printed("mag: [%.3f, %.3f, %.3f] uT\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// JSON objects, one per line, with the sensors nested.
inline std::string jsonLines(const std::vector<Row>& rows) {
  std::string text;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Row& r = rows[k];
    text += printed("{\"t\": %.2f, \"acc\": {\"x\": %.3f, ", r.time_s, r.accel[0], 0) +
            printed("\"y\": %.3f, \"z\": %.3f}, \"mag\": ", r.accel[1], r.accel[2], 0) +
            printed("{\"x\": %.3f, \"y\": %.3f, \"z\": %.3f}, \"unit\": \"uT\"}\n", r.mag_uT[0],
                    r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// A serial monitor's time stamp and arrow before comma-separated values.
inline std::string stampedCsv(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    const double ms = 1000.0 * r.time_s;
    text += printed("14:%02.0f:%06.3f -> ", std::floor(ms / 60000.0),
                    std::fmod(ms, 60000.0) / 1000.0, 0) +
            printed("%.3f,%.3f,%.3f\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// The unit after each value.
inline std::string unitEach(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& r : rows) {
    text += printed("%.3f uT, %.3f uT, %.3f uT\n", r.mag_uT[0], r.mag_uT[1], r.mag_uT[2]);
  }
  return text;
}

// A robot's MagneticField messages exported to CSV: tesla, a covariance after the field.
inline std::string magneticFieldExport(const std::vector<Row>& rows) {
  std::string text =
      "%time,field.header.seq,field.header.stamp,field.header.frame_id,field.magnetic_field.x,"
      "field.magnetic_field.y,field.magnetic_field.z,field.magnetic_field_covariance0,"
      "field.magnetic_field_covariance1\n";
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Row& r = rows[k];
    text += printed("%.0f,%.0f,%.0f,imu_link,", 1.7e18 + 1e9 * r.time_s, static_cast<double>(k),
                    1.7e18 + 1e9 * r.time_s) +
            printed("%.9e,%.9e,%.9e,0.0,0.0\n", 1e-6 * r.mag_uT[0], 1e-6 * r.mag_uT[1],
                    1e-6 * r.mag_uT[2]);
  }
  return text;
}

}  // namespace logger_layouts

#endif
