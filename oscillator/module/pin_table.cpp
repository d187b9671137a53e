// The oscillator's pin descriptions. "cyclic" is 1 for off and 2 for on, "hq" 0 for off and 1
// for on: the values the host stores, so they must not be normalised.
#include "oscillator/module/pin_table.h"

#include "se_sdk2/se_protocol.h"

const PinRow PIN_TABLE[PIN_COUNT] = {
    {"fc", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"fm1", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"N", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"a", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"gate", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"detune", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"sync", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"Mode", DR_IN, DT_ENUM, "1", "1-Sided=1,2-Sided=2"},
    {"combfreq", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"combphase", DR_IN, DT_FSAMPLE, "0", nullptr},
    {"cyclic", DR_IN, DT_ENUM, "1", "off=1,on=2"},
    {"hq", DR_IN, DT_ENUM, "1", "off=0,on=1"},
    {"poly", DR_IN, DT_ENUM, "8",
     "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"},
    {"alternate", DR_IN, DT_ENUM, "1", "L+R=0,L+R alt=1,M+S=2,M+S alt=3,S+M=4,S+M alt=5"},
    {"outputl", DR_OUT, DT_FSAMPLE, nullptr, nullptr},
    {"outputr", DR_OUT, DT_FSAMPLE, nullptr, nullptr},
};
