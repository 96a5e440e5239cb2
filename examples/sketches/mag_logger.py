# Logs a three-axis magnetometer for fluxtrim, in MicroPython: one line "x y z uT" per sample,
# the field in microtesla with its unit after the values, 50 samples a second on the board's USB
# serial port.
#
# Sensor: a QMC5883L module at I2C address 0x0D, set to its 8 gauss range: 3000 counts per
# gauss, so one count is 1/30 uT.
# Wiring (Raspberry Pi Pico): module VCC to 3V3 (pin 36), GND to GND (pin 38), SDA to GP4
# (pin 6), SCL to GP5 (pin 7). Other boards: change the I2C line below.
#
# Copy it to the board as main.py, then record:
#     fluxtrim watch /dev/ttyACM0 --save rec.csv --lat LAT --lon LON
import struct
import time

from machine import I2C, Pin

ADDRESS = 0x0D
PERIOD_MS = 20  # 50 samples a second
COUNTS_PER_MICROTESLA = 30.0  # 3000 counts per gauss, 100 uT per gauss

i2c = I2C(0, sda=Pin(4), scl=Pin(5), freq=400000)
i2c.writeto_mem(ADDRESS, 0x0B, b"\x01")  # set/reset period, as the data sheet asks
i2c.writeto_mem(ADDRESS, 0x09, b"\x19")  # continuous, 100 Hz output, 8 gauss range
print("# magnetometer logger: x y z in uT, 50 Hz")

next_ms = time.ticks_ms()
while True:
    if time.ticks_diff(time.ticks_ms(), next_ms) < 0:
        time.sleep_ms(1)
        continue
    next_ms = time.ticks_add(next_ms, PERIOD_MS)
    # X, Y, Z from register 0, each a signed 16-bit count, low byte first.
    x, y, z = struct.unpack("<hhh", i2c.readfrom_mem(ADDRESS, 0x00, 6))
    print("%.2f %.2f %.2f uT" % (x / COUNTS_PER_MICROTESLA, y / COUNTS_PER_MICROTESLA,
                                 z / COUNTS_PER_MICROTESLA))
