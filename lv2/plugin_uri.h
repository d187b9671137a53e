// The instrument's URI: hosts and saved sessions find it by this name, so it never changes.
#pragma once

#define TARN_LV2_URI "urn:tarn:lv2:oscillator"
