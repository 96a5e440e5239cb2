// Logs a three-axis magnetometer for fluxtrim: one line "x y z uT" per sample, the field in
// microtesla with its unit after the values, 50 samples a second on the serial port at 115200
// baud (8 data bits, no parity, one stop bit).
//
// Sensor: a QMC5883L module at I2C address 0x0D, set to its 8 gauss range: 3000 counts per
// gauss, so one count is 1/30 uT.
// Wiring (Uno, Nano and other ATmega328 boards): module VCC to 5V (or 3.3V, as the module
// allows), GND to GND, SDA to A4, SCL to A5. Other boards: their own SDA and SCL pins.
//
// Record:  fluxtrim watch /dev/ttyACM0 --save rec.csv --lat LAT --lon LON
#include <Wire.h>

const uint8_t kAddress = 0x0D;
const unsigned long kPeriod_ms = 20;       // 50 samples a second
const float kCountsPerMicrotesla = 30.0f;  // 3000 counts per gauss, 100 uT per gauss

void writeRegister(uint8_t reg, uint8_t value) {
  Wire.beginTransmission(kAddress);
  Wire.write(reg);
  Wire.write(value);
  Wire.endTransmission();
}

void setup() {
  Serial.begin(115200);
  Wire.begin();
  writeRegister(0x0B, 0x01);  // set/reset period, as the data sheet asks
  writeRegister(0x09, 0x19);  // continuous, 100 Hz output, 8 gauss range, 512 oversampling
  Serial.println("# magnetometer logger: x y z in uT, 50 Hz");
}

void loop() {
  static unsigned long next = millis();
  if ((long)(millis() - next) < 0) return;
  next += kPeriod_ms;
  Wire.beginTransmission(kAddress);
  Wire.write(0x00);  // X, Y, Z follow from register 0, each low byte first
  Wire.endTransmission(false);
  if (Wire.requestFrom(kAddress, (uint8_t)6) != 6) {
    Serial.println("# read failed");  // a comment line: counted, never fitted
    return;
  }
  for (int axis = 0; axis < 3; ++axis) {
    const uint8_t low = Wire.read();
    const uint8_t high = Wire.read();
    const int16_t counts = (int16_t)((uint16_t)high << 8 | low);
    Serial.print(counts / kCountsPerMicrotesla, 2);
    Serial.print(' ');
  }
  Serial.println("uT");
}
