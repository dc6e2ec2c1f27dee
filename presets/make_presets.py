#!/usr/bin/env python3
"""Writes the preset files the register console's buttons send, the equaliser file, the chips'
register maps (regmaps/CHIP.regmap.json) and expectations.txt: what each file's caption
promises, as register values.

Every file is a block of configuration lines (":Wrrvv@ comment", ":Dhhll@ comment",
":Caabb@ comment"), CR LF line ends as the files have always come from Windows. Each file is
built from what its button's caption promises (gain, supply, low-power mode, serial format,
the outputs and inputs of its path), on a register model of the chip family below. No file
holds a board step ("G" line): none has a documented meaning for these boards.

  make_presets.py          write the files next to this script
  make_presets.py --check  compare the shipped files with what would be written; exit 1 if not
"""
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# --- register models ---------------------------------------------------------------------------

# One table per chip family: every register the presets write, with its bit fields and the
# meanings of their values. The presets' register addresses come from here (by the role each
# register plays in a sequence), every write is checked against it (writable register, no
# reserved bit set, see Seq.w), and the register maps shipped in regmaps/ are written from it,
# so a preset and its chip's map cannot disagree.
#   (role or None, address, name, description, access, reset, volatile, fields)
#   field: (name, "msb:lsb" or "bit", description, {value: meaning})
OFF_ON = {0: "off", 1: "on"}
LR = [("L", "0", "left channel", OFF_ON), ("R", "1", "right channel", OFF_ON)]
VOLUME = [("VOL", "7:0", "0.5 dB steps, 0xC0 is 0 dB", {0x00: "mute", 0xC0: "0 dB"})]
AMP = [("EN", "1:0", "left and right drivers", {0: "off", 3: "left and right"})]
RW, RO = "read-write", "read-only"

SMALL_MAP = [
    ("reset", 0x00, "RESET", "Soft reset", RW, 0x00, False, [("RST", "7", "reset all registers", {0: "run", 1: "reset"})]),
    ("clock", 0x01, "CLOCK", "Clock source and mode", RW, 0x00, False, [
        ("MCLK_EN", "0", "master clock input", {0: "off", 1: "MCLK from pin"}),
        ("MASTER", "1", "serial port clocking", {0: "slave", 1: "master"})]),
    ("power", 0x02, "POWER", "Power-down, one bit a block", RW, 0xFF, False, [
        ("PD", "7:0", "a set bit powers its block down", {0x00: "all on", 0xFF: "all off"})]),
    ("adc", 0x03, "ADC", "ADC enables", RW, 0x00, False, LR),
    ("pga", 0x04, "PGA", "PGA gain", RW, 0x00, False, [("GAIN", "6:0", "0.5 dB steps", {0: "0 dB"})]),
    ("input", 0x05, "INPUT", "Input select", RW, 0x01, False, [
        ("CH", "3:0", "one bit an input", {0: "none", 1: "CH1", 2: "CH2", 4: "CH3", 8: "CH4"})]),
    ("format", 0x06, "FORMAT", "Serial port format", RW, 0x00, False, [
        ("MODE", "1:0", "frame format", {0: "I2S", 1: "left-justified", 3: "DSP"}),
        ("WL", "3:2", "word length", {0: "24-bit", 1: "20-bit", 2: "16-bit"})]),
    ("volume", 0x07, "VOLUME", "Digital volume", RW, 0xBF, False, [
        ("VOL", "7:0", "0.5 dB steps, 0xBF is 0 dB", {0x00: "mute", 0xBF: "0 dB"})]),
    ("mute", 0x08, "MUTE", "Soft mute", RW, 0x03, False, LR),
    ("lowpower", 0x09, "LOW_POWER", "Low-power mode", RW, 0x00, False, [
        ("LP", "5:0", "one bit a block", {0x00: "off", 0x3F: "on"})]),
    ("supply", 0x0A, "SUPPLY", "Analogue supply range", RW, 0x04, False, [
        ("RANGE", "3:2", "AVDD", {1: "3.3 V", 3: "1.8 V"})]),
    ("tdm", 0x0B, "TDM", "TDM input", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    ("dmic", 0x0C, "DMIC", "Digital microphone", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    (None, 0x0F, "STATUS", "Overload flags", RO, 0x00, True, [
        ("OVL_L", "0", "left ADC overload", OFF_ON), ("OVL_R", "1", "right ADC overload", OFF_ON)]),
]

WIDE_MAP = [
    ("reset", 0x00, "RESET", "Soft reset", RW, 0x00, False, [("RST", "7", "reset all registers", {0: "run", 1: "reset"})]),
    ("clock", 0x01, "CLK_EN", "Clock enables", RW, 0x00, False, [
        ("EN", "5:0", "one bit a block clock", {0x00: "all off", 0x3F: "all on"}),
        ("PLL_SRC", "6", "clock source", {0: "MCLK pin", 1: "PLL"})]),
    ("clkdiv", 0x02, "CLK_DIV", "MCLK to LRCK ratio", RW, 0x00, False, [
        ("RATIO", "3:0", "", {0: "256", 1: "384", 2: "512", 3: "768"})]),
    ("pll", 0x03, "PLL", "PLL control", RW, 0x00, False, [
        ("REF", "1:0", "reference", {0: "MCLK", 1: "BCLK"}), ("EN", "7", "", OFF_ON)]),
    ("format", 0x09, "SDP_FMT", "Serial port format", RW, 0x0C, False, [
        ("MODE", "1:0", "frame format", {0: "I2S", 3: "DSP"}),
        ("WL", "3:2", "word length", {0: "16-bit", 1: "20-bit", 3: "24-bit"}),
        ("DSP_B", "4", "DSP mode", {0: "DSP-A", 1: "DSP-B"})]),
    ("tdm", 0x0B, "TDM", "TDM input", RW, 0x00, False, [
        ("EN", "0", "", OFF_ON), ("CHAIN", "7", "devices on the TDM bus", {0: "one device", 1: "chained"})]),
    ("adcpower", 0x0D, "ADC_PWR", "ADC power", RW, 0x00, False, LR),
    ("adcvol", 0x10, "ADC_VOL", "ADC digital volume", RW, 0xC0, False, VOLUME),
    ("pga", 0x12, "PGA", "PGA gain", RW, 0x00, False, [("GAIN", "6:0", "0.5 dB steps", {0: "0 dB"})]),
    ("input", 0x13, "INPUT_SEL", "Input select", RW, 0x00, False, [
        ("L_SRC", "3:0", "left input", {0: "none", 1: "LIN1", 2: "LIN2", 4: "MIC", 8: "MONOIN"}),
        ("R_SRC", "7:4", "right input", {0: "none", 1: "RIN1", 2: "RIN2", 4: "MIC or MONOP", 8: "MONOIN",
                                         12: "MONOP/N differential"})]),
    ("dmic", 0x14, "DMIC", "Digital microphone interface", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    ("alc", 0x15, "ALC", "Automatic level control", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    ("dac", 0x17, "DAC_PWR", "DAC power", RW, 0x00, False, LR),
    ("dacvol_l", 0x18, "DAC_VOL_L", "Left DAC digital volume", RW, 0xC0, False, VOLUME),
    ("dacvol_r", 0x19, "DAC_VOL_R", "Right DAC digital volume", RW, 0xC0, False, VOLUME),
    ("mix_l", 0x1A, "MIX_L", "Left output mixer", RW, 0x00, False, [
        ("INPUT", "6", "analogue input to the mixer", OFF_ON), ("DAC", "7", "DAC to the mixer", OFF_ON)]),
    ("mix_r", 0x1B, "MIX_R", "Right output mixer", RW, 0x00, False, [
        ("INPUT", "6", "analogue input to the mixer", OFF_ON), ("DAC", "7", "DAC to the mixer", OFF_ON)]),
    ("hp", 0x1C, "HP", "Headphone output", RW, 0x00, False, AMP + [
        ("COM", "2", "common-mode (capless) drive", OFF_ON)]),
    ("hpvol", 0x1D, "HP_VOL", "Headphone volume", RW, 0x3F, False, [
        ("VOL", "5:0", "1 dB steps, 0x3F is 0 dB", {0x39: "-6 dB", 0x3F: "0 dB"})]),
    ("spk", 0x1E, "SPK", "Speaker output", RW, 0x00, False, AMP),
    ("spkvol", 0x1F, "SPK_VOL", "Speaker volume", RW, 0x3F, False, [
        ("VOL", "5:0", "1 dB steps, 0x3F is 0 dB", {0x39: "-6 dB", 0x3F: "0 dB"})]),
    ("lout", 0x20, "LOUT", "Line output", RW, 0x00, False, AMP),
    ("mono", 0x21, "MONO", "Mono output", RW, 0x00, False, AMP),
    ("power", 0x22, "POWER", "Analogue power-down, one bit a block", RW, 0xFF, False, [
        ("PD", "7:0", "a set bit powers its block down",
         {0x00: "all on", 0x0F: "analogue blocks off", 0xFF: "all off"})]),
    ("vmid", 0x23, "VMID", "Reference voltage divider", RW, 0x00, False, [
        ("SEL", "1:0", "", {0: "off", 1: "5k", 2: "50k", 3: "500k"})]),
    ("bias", 0x24, "BIAS", "Analogue bias current", RW, 0x00, False, [
        ("LEVEL", "3:0", "", {0x0: "normal", 0xA: "reduced"})]),
    ("mute", 0x25, "MUTE", "Soft mute", RW, 0x03, False, [
        ("DAC", "0", "", OFF_ON), ("ADC", "1", "", OFF_ON)]),
    ("lowpower", 0x26, "LOW_POWER", "Low-power mode", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    ("micbias", 0x27, "MICBIAS", "Microphone bias", RW, 0x00, False, [("EN", "0", "", OFF_ON)]),
    ("linein1", 0x28, "LINEIN1", "LIN1/RIN1 input buffers", RW, 0x00, False, LR),
    ("monoin", 0x29, "MONOIN", "Mono input buffer", RW, 0x00, False, [
        ("EN", "0", "", OFF_ON), ("DIFF", "1", "input mode", {0: "single-ended", 1: "differential"})]),
    ("linein2", 0x2A, "LINEIN2", "LIN2/RIN2 input buffers", RW, 0x00, False, LR),
    ("eq", 0x30, "EQ_CTRL", "Equaliser bands", RW, 0x00, False, [
        ("BANDS", "4:0", "one bit a band", {0x00: "off", 0x1F: "all five bands"})]),
] + [(None, 0x30 + i, "EQ_COEF%d" % i, "Equaliser coefficient %d" % i, RW, 0x00, False, [])
     for i in range(1, 11)] + [
    (None, 0x3C, "STATUS", "Status flags", RO, 0x00, True, [
        ("PLL_LOCK", "0", "PLL locked", {0: "unlocked", 1: "locked"}),
        ("HP_DET", "1", "headphone plugged in", {0: "no", 1: "yes"})]),
]

MAPS = {"small": SMALL_MAP, "wide": WIDE_MAP}
SMALL = {row[0]: row[1] for row in SMALL_MAP if row[0]}
WIDE = {row[0]: row[1] for row in WIDE_MAP if row[0]}


def field_mask(bits):
    msb, _, lsb = bits.partition(":")
    msb, lsb = int(msb), int(lsb or msb)
    return ((1 << (msb - lsb + 1)) - 1) << lsb


def check_write(model, reg, value, comment):
    """A preset writes only writable registers the map knows, and no reserved bit."""
    row = [r for r in MAPS[model] if r[1] == reg]
    assert row, "register 0x%02X (%s) is not in the %s map" % (reg, comment, model)
    _, _, name, _, access, _, _, fields = row[0]
    assert access != RO, "%s is read-only (%s)" % (name, comment)
    used = 0
    for f in fields:
        used |= field_mask(f[1])
    assert not fields or value & ~used == 0, "0x%02X sets reserved bits of %s (%s)" % (value, name, comment)


def regmap_text(chip, model, highest):
    """The chip's register map in the console's JSON format, one field a line."""
    def q(text):
        return json.dumps(text, ensure_ascii=False)

    lines = ['{', '  "format": "evbconsole-regmap-1",', '  "chip": %s,' % q(chip), '  "registers": [']
    rows = [r for r in MAPS[model] if r[1] <= highest]
    for i, (_, addr, name, desc, access, reset, volatile, fields) in enumerate(rows):
        head = '    { "address": "0x%02X", "name": %s, "description": %s, "access": "%s", "reset": "0x%02X"' % (
            addr, q(name), q(desc), access, reset)
        if volatile:
            head += ', "volatile": true'
        end = " }" + ("," if i + 1 < len(rows) else "")
        if not fields:
            lines.append(head + end)
            continue
        lines.append(head + ', "fields": [')
        for j, (fname, bits, fdesc, values) in enumerate(fields):
            vals = ", ".join('"%s": %s' % (str(v) if ":" not in bits else "0x%02X" % v, q(m))
                             for v, m in sorted(values.items()))
            lines.append('        { "name": %s, "bits": "%s"%s, "values": { %s } }%s' % (
                q(fname), bits, (', "description": %s' % q(fdesc)) if fdesc else "", vals,
                "," if j + 1 < len(fields) else " ]"))
        lines[-1] += end
    lines += ['  ]', '}']
    return "".join(line + "\n" for line in lines)


SUPPLY = {"3V3": 0x04, "1V8": 0x0C}      # SMALL supply register
FORMAT = {"IIS": 0x0C, "DSPA": 0x0F, "DSPB": 0x1F}
MIX_DAC, MIX_INPUT = 0x80, 0x40         # output mixer sources
# What "on" is for each block a power-down switches off, and for the power registers.
ON = {"dac": 0x03, "adcpower": 0x03, "hp": 0x03, "spk": 0x03, "lout": 0x03, "mono": 0x03,
      "linein1": 0x03, "linein2": 0x03, "micbias": 0x01, "monoin": 0x01, "dmic": 0x01,
      "clock": 0x3F, "vmid": 0x02, "power": 0x00, "mute": 0x00, "adc": 0x03}

# Inputs of a record path: (input select, the blocks that carry it with their "on" value).
INPUTS = {
    "lin1": (0x11, {"linein1": 0x03}),
    "lin2": (0x22, {"linein2": 0x03}),
    "amic1": (0x11, {"linein1": 0x03, "micbias": 0x01}),
    "amic2": (0x22, {"linein2": 0x03, "micbias": 0x01}),
    "amic_ch1": (0x01, {"linein1": 0x01, "micbias": 0x01}),
    "mic": (0x44, {"micbias": 0x01}),
    "monoin": (0x88, {"monoin": 0x01}),
    "dmic": (0x00, {"dmic": 0x01}),
}
BYPASS = {"lin": (0x11, {"linein1": 0x03}), "monop": (0x40, {"monoin": 0x01}),
          "monodiff": (0xC0, {"monoin": 0x03})}
OUTPUTS = {"hp": ("hp", 0x03), "hpcom": ("hp", 0x07), "spk": ("spk", 0x03), "mono": ("mono", 0x03),
           "lout": ("lout", 0x03)}

# --- the buttons -------------------------------------------------------------------------------

# chip: (folder, highest register, model, [(button, caption, file)]). Captions as the register
# console shows them; a file used by several buttons is built for the first.
CHIPS = {
    "KV1120": ("KV1120", 0x4C, "wide", [
        ("A1", "IIS Mode 0DB", "KV1120_IIS Mode 0DB.TXT"),
        ("A2", "IIS Mode 27DB", "KV1120_IIS Mode 27DB.TXT"),
        ("A3", "IIS Mode 34DB", "KV1120_IIS Mode 34DB.TXT"),
        ("A4", "*1 TDMIN-IIS 30DB", "KV1120_1 TDMIN-IIS 30DB.TXT"),
        ("A5", "*1 TDMIN-DSPA 30DB", "KV1120_1 TDMIN-DSPA 30DB.TXT"),
        ("A6", "*1 TDMIN-DSPB 30DB", "KV1120_1 TDMIN-DSPB 30DB.TXT"),
        ("A7", "*N TDMIN-IIS 30DB", "KV1120_N TDMIN-IIS 30DB.TXT"),
        ("A8", "*N TDMIN-DSPA 30DB", "KV1120_1 TDMIN-DSPA 30DB.TXT"),
        ("A9", "*N TDMIN-DSPB 30DB", "KV1120_1 TDMIN-DSPB 30DB.TXT"),
        ("B1", "PowerDown", "KV1120_PowerDown.TXT"),
        ("B2", "Resume", "KV1120_Resume.TXT")]),
    "KV1150": ("KV1150", 0x0F, "small", [
        ("A1", "CH1 Input", "KV1150_Lin1.TXT"), ("A2", "CH2 Input", "KV1150_Lin2.TXT"),
        ("A3", "CH3 Input", "KV1150_Lin3.TXT"), ("A4", "CH4 Input", "KV1150_Lin4.TXT"),
        ("B1", "PowerDown", "KV1150_PowerDown.TXT"), ("B2", "Resume", "KV1150_Resume.TXT")]),
    "KV1160E": ("KV1160E", 0xFF, "small", [
        ("A1", "Input 0DB:  AVDD=3V3", "KV1160E_Lin_0DB_3V3.TXT"),
        ("A2", "Input 0DB:  AVDD=3V3 LP Mode", "KV1160E_Lin_0DB_3V3_LP.TXT"),
        ("A3", "Input 27DB: AVDD=3V3", "KV1160E_Lin_27DB_3V3.TXT"),
        ("A4", "Input 27DB: AVDD=3V3 LP Mode", "KV1160E_Lin_27DB_3V3_LP.TXT"),
        ("A5", "Input 0DB:  AVDD=1V8", "KV1160E_Lin_0DB_1V8.TXT"),
        ("A6", "Input 0DB:  AVDD=1V8 LP Mode", "KV1160E_Lin_0DB_1V8_LP.TXT"),
        ("A7", "Input 27DB: AVDD=1V8", "KV1160E_Lin_27DB_1V8.TXT"),
        ("A8", "Input 27DB: AVDD=1V8 LP Mode", "KV1160E_Lin_27DB_1V8_LP.TXT"),
        ("B1", "PowerDown", "KV1160E_PowerDown.TXT"), ("B2", "Resume", "KV1160E_Resume.TXT"),
        ("B3", "Reset Register", "KV1160E_Reset.TXT"), ("B4", "Dmic", "KV1160E_Dmic.TXT")]),
    "KV2210": ("KV2210", 0x4F, "wide", [
        ("A1", "DAC", "KV2210_DAC.TXT"), ("A2", "Bypass_Lin", "KV2210_Bypass_Lin.TXT"),
        ("A3", "Bypass_MonoP", "KV2210_Bypass_MonoP.TXT"),
        ("A4", "Bypass_MonoDiff", "KV2210_Bypass_MonoDiff.TXT"),
        ("B1", "PowerDown", "KV2210_PowerDown.TXT")]),
    "KV2210S": ("KV2210S", 0xFF, "wide", [
        ("A1", "DAC", "KV2210S_DAC.TXT"), ("A2", "DAC_LP", "KV2210S_DAC_LP.TXT"),
        ("A3", "DAC_Hp", "KV2210S_DAC_HP.TXT"), ("A4", "DAC_HpCom", "KV2210S_DAC_HPCOM.TXT"),
        ("B1", "PowerDown", "KV2210S_PowerDown.TXT"), ("B2", "Reset Register", "KV2210S_Reset.TXT"),
        ("B4", "EQ Clear", "KV2210S_EQ_Clear.TXT")]),
    "KV2330": ("KV2330", 0x3F, "wide", [
        ("A1", "Power On Initialize ADC", "KV2330_Powerup.TXT"),
        ("A2", "Record form LIN1 && RIN1", "KV2330_Lin1.TXT"),
        ("A3", "Record from LIN2 && RIN2", "KV2330_Lin2.TXT"),
        ("A4", "Record from DMIC", "KV2330_Dmicin.TXT"),
        ("A6", "Power down ADC", "KV2330_PowerDown.TXT"),
        ("B1", "Power down Record form LIN1 && RIN1", "KV2330_Lin1_PD.TXT"),
        ("B2", "Power down Record from LIN2 && RIN2", "KV2330_Lin2_PD.TXT"),
        ("B3", "Power down Record from DMIC", "KV2330_Dmicin_PD.TXT")]),
    "KV2460": ("KV2460", 0x53, "wide", [
        ("A1", "Power On Initialize Codec", "KV2460_Powerup.TXT"),
        ("A2", "Headphone Playback", "KV2460_Hpout.TXT"),
        ("A3", "Record form LIN1 && RIN1", "KV2460_Lin1.TXT"),
        ("A4", "Record from LIN2 && RIN2", "KV2460_Lin2.TXT"),
        ("A5", "Record from DMIC", "KV2460_Dmicin.TXT"),
        ("A7", "Codec", "KV2460_Codec.TXT"),
        ("B1", "Power down Headphone Playback", "KV2460_Hpout_PD.TXT"),
        ("B2", "Power down Record form LIN1 && RIN1", "KV2460_Lin1_PD.TXT"),
        ("B3", "Power down Record from LIN2 && RIN2", "KV2460_Lin2_PD.TXT"),
        ("B4", "Power down Record from DMIC", "KV2460_Dmicin_PD.TXT"),
        ("B5", "Power down Codec", "KV2460_PowerDown.TXT")]),
    "KV2640": ("KV2640", 0x7F, "wide", [
        ("A1", "Headphone Playback", "KV2640_HPout.TXT"),
        ("A2", "Speaker Playback", "KV2640_Spkout.TXT"),
        ("A3", "Record form LIN1 && RIN1", "KV2640_Lin1.TXT"),
        ("A4", "Record from LIN2 && RIN2", "KV2640_Lin2.TXT"),
        ("A5", "AMIC from LIN2 && RIN2", "KV2640_Amicin.TXT"),
        ("A6", "DMIC from LIN1 && RIN1", "KV2640_Dmicin.TXT"),
        ("A7", "Codec", "KV2640_Codec.TXT"),
        ("B1", "Standby Codec", "KV2640_Standby.TXT"),
        ("B2", "Resume Codec", "KV2640_Resume.TXT"),
        ("B3", "Power down Codec", "KV2640_PowerDown.TXT")]),
    "KV2650": ("KV2650", 0x3D, "wide", [
        ("A1", "Headphone Playback", "KV2650_HPout.TXT"),
        ("A2", "Record form LIN1 && RIN1", "KV2650_Lin1.TXT"),
        ("A3", "Record from LIN2 && RIN2", "KV2650_Lin2.TXT"),
        ("A4", "AMIC from LIN1 && RIN1", "KV2650_AMIC1.TXT"),
        ("A5", "AMIC from LIN2 && RIN2", "KV2650_AMIC2.TXT"),
        ("A6", "Codec", "KV2650_Codec.TXT"),
        ("B1", "Power down Codec", "KV2650_PowerDown.TXT"),
        ("B2", "Resume Codec", "KV2650_Resume.TXT")]),
}
for _chip in ("KV1160", "KV1160L"):
    CHIPS[_chip] = (_chip, 0x0F, "small", [
        ("A1", "Input 1DB:  AVDD=3V3", _chip + "_Lin_1DB_3V3.TXT"),
        ("A2", "Input 18DB: AVDD=3V3", _chip + "_Lin_18DB_3V3.TXT"),
        ("A3", "Input 27DB: AVDD=3V3", _chip + "_Lin_27DB_3V3.TXT"),
        ("A4", "Input 1DB:  AVDD=3V3 LP Mode", _chip + "_Lin_1DB_3V3_LP.TXT"),
        ("A5", "Input 27DB: AVDD=3V3 LP Mode", _chip + "_Lin_27dB_3V3_LP.TXT"),
        ("A6", "Input 27DB: AVDD=1V8", _chip + "_Lin_27DB_1V8.TXT"),
        ("A7", "Input 27DB: AVDD=1V8 LP Mode", _chip + "_Lin_27DB_1V8_LP.TXT"),
        ("B1", "PowerDown", _chip + "_PowerDown.TXT"), ("B2", "Resume", _chip + "_Resume.TXT")])
for _chip in ("KV2440", "KV2450"):
    CHIPS[_chip] = (_chip, 0xFF, "wide", [
        ("A1", "DAC_Line", _chip + "_DAC_Line.TXT"), ("A2", "DAC_Hp", _chip + "_DAC_Hp.TXT"),
        ("A3", "ADC", _chip + "_ADC.TXT"), ("A4", "Codec", _chip + "_Codec.TXT"),
        ("A6", "Codec_NoMclk", _chip + "_Codec_NoMclk.TXT"), ("A7", "Codec_Lp", _chip + "_Codec_Lp.TXT"),
        ("A8", "ADC_DMIC", _chip + "_ADC_DMIC.TXT"),
        ("A9", "ADC_AMIC" if _chip == "KV2440" else "ADC_AMIC_CH1", _chip + "_ADC_AMIC.TXT")]
        + ([("A10", "DAC_FM", "KV2450_DAC_FM.TXT")] if _chip == "KV2450" else [])
        + [("B1", "Standby Codec", _chip + "_Standby.TXT"),
           ("B2", "Power down Codec", _chip + "_PowerDown.TXT"),
           ("B4", "Reset Register", _chip + "_Reset.TXT")])
# The KV2930 and the maker's own board share the layout; the maker's captions are "Button-A1"
# and so on, so its files are built for the KV2930's captions of the same buttons.
_KV2930_BUTTONS = [
    ("A1", "Power On Initialize Codec", "Powerup"), ("A2", "Headphone Playback", "Hpout"),
    ("A3", "Speaker Playback", "Spkout"), ("A4", "MonoOut Playback", "Monoout"),
    ("A5", "LineOut Playback", "Lout"), ("A6", "Record From MICP/N", "Micin"),
    ("A7", "Record From MonoINP/N", "Monoin"), ("A8", "Record From AINL/R", "Lin"),
    ("A9", "Record From Digital Mic", "Dmicin"), ("A10", "Power Down Codec", "Powerdown"),
    ("B1", "Power down Headphone Playback", "Hpout_PD"), ("B2", "Power down Speaker Playback", "Spkout_PD"),
    ("B3", "Power down MonoOut Playback", "Monoout_PD"), ("B4", "Power down LineOut Playback", "Lout_PD"),
    ("B5", "Power down Record From MICP/N", "Micin_PD"), ("B6", "Power down Record From MonoINP/N", "Monoin_PD"),
    ("B7", "Power down Record From AINL/R", "Lin_PD"), ("B8", "Power down Record From Digital Mic", "Dmicin_PD")]
CHIPS["KV2930"] = ("KV29xx", 0x7F, "wide", [(b, c, "KV2930_%s.TXT" % f) for b, c, f in _KV2930_BUTTONS])
CHIPS["Corvane"] = ("Corvane", 0xFF, "wide", [(b, c, "Corvane_%s.TXT" % b) for b, c, _ in _KV2930_BUTTONS])

# --- what a caption promises -------------------------------------------------------------------


def input_of(text):
    """The record input a caption (or the rest of one) names, or None."""
    t = text.lower()
    for key, name in (("dmic", "dmic"), ("digital mic", "dmic"), ("amic from lin1", "amic1"),
                      ("amic from lin2", "amic2"), ("adc_amic_ch1", "amic_ch1"), ("adc_amic", "amic1"),
                      ("micp/n", "mic"), ("monoinp/n", "monoin"), ("ainl/r", "lin1"),
                      ("lin1 && rin1", "lin1"), ("lin2 && rin2", "lin2")):
        if key in t:
            return name
    return None


def output_of(text):
    t = text.lower()
    for key, name in (("headphone", "hp"), ("dac_hpcom", "hpcom"), ("dac_hp", "hp"), ("speaker", "spk"),
                      ("monoout", "mono"), ("lineout", "lout"), ("dac_line", "lout")):
        if key in t:
            return name
    return None


def promise(caption):
    """What the caption promises, as a small dictionary."""
    t = caption.lower()
    p = {"kind": "path", "outputs": [], "input": None, "gain": None, "lp": False, "supply": None,
         "nomclk": "nomclk" in t, "tdm": None, "bypass": None, "fm": False, "channel": None}
    if "reset register" in t:
        p["kind"] = "reset"
    elif "eq clear" in t:
        p["kind"] = "eqclear"
    elif "resume" in t:
        p["kind"] = "resume"
    elif "standby" in t:
        p["kind"] = "standby"
    elif t.startswith("power down") or t.startswith("powerdown"):
        path_in, path_out = input_of(t), output_of(t)
        if path_in or path_out:
            p.update(kind="pathdown", input=path_in, outputs=[path_out] if path_out else [])
        else:
            p["kind"] = "powerdown"
    elif t.startswith("power on initialize"):
        p["kind"] = "powerup"
    if p["kind"] != "path":
        return p
    m = re.search(r"(\d+)\s*db", t)
    if m:
        p["gain"] = int(m.group(1))
    p["lp"] = "lp mode" in t or t.endswith("_lp")
    m = re.search(r"avdd=(3v3|1v8)", t)
    if m:
        p["supply"] = m.group(1).upper()
    m = re.search(r"\*(1|n) tdmin-(iis|dspa|dspb)", t)
    if m:
        p["tdm"] = (m.group(2).upper(), m.group(1) == "n")
    elif "iis mode" in t:
        p["tdm"] = ("IIS", None)
    m = re.match(r"ch(\d) input", t)
    if m:
        p["channel"] = int(m.group(1))
    if t.startswith("bypass_"):
        p["bypass"] = t[len("bypass_"):]
        p["outputs"] = ["lout"]
        return p
    if t.startswith("codec"):
        p.update(outputs=["hp"], input="lin1")
        return p
    if t in ("dac", "dac_lp"):
        p["outputs"] = ["lout"]
    elif t == "dac_fm":
        p.update(outputs=["lout"], fm=True)
    elif output_of(t):
        p["outputs"] = [output_of(t)]
    p["input"] = input_of(t)
    if t == "adc" or (p["tdm"] and not p["input"]):
        p["input"] = "lin1"
    return p


def chip_blocks(buttons):
    """The blocks the chip's own paths switch on: what its power-down switches off."""
    blocks = []
    for _, caption, _ in buttons:
        p = promise(caption)
        if p["kind"] != "path":
            continue
        for out in p["outputs"]:
            for b in ("dac", OUTPUTS[out][0]):
                if b not in blocks:
                    blocks.append(b)
        for name in ([p["input"]] if p["input"] else []):
            for b in ["adcpower"] + list(INPUTS[name][1]):
                if b not in blocks:
                    blocks.append(b)
        if p["bypass"]:
            for b in ["lout"] + list(BYPASS[p["bypass"]][1]):
                if b not in blocks:
                    blocks.append(b)
    order = ["dac", "hp", "spk", "lout", "mono", "adcpower", "linein1", "linein2", "micbias", "monoin", "dmic"]
    return [b for b in order if b in blocks]


def expected(model, p, blocks, downs):
    """Register -> value a file for promise p must leave (the last write to each register)."""
    r = SMALL if model == "small" else WIDE
    e = {}
    k = p["kind"]
    if k == "reset":
        e[r["reset"]] = 0x00
    elif k == "eqclear":
        for i in range(11):
            e[r["eq"] + i] = 0x00
    elif k == "resume":
        # Everything the chip's power-down and standby switched off is on again.
        for reg in downs:
            name = [n for n, a in r.items() if a == reg][0]
            e[reg] = ON[name]
    elif model == "small":
        if k == "powerdown":
            e.update({r["adc"]: 0x00, r["power"]: 0xFF})
        elif k == "path":
            if p["input"] != "dmic":
                e[r["pga"]] = 2 * (p["gain"] or 0)
            e[r["lowpower"]] = 0x3F if p["lp"] else 0x00
            if p["supply"]:
                e[r["supply"]] = SUPPLY[p["supply"]]
            if p["input"] == "dmic":
                e.update({r["dmic"]: 0x01, r["input"]: 0x00})
            else:
                e[r["input"]] = 1 << ((p["channel"] or 1) - 1)
            e.update({r["adc"]: 0x03, r["mute"]: 0x00})
    elif k == "powerup":
        e.update({r["power"]: 0x00, r["vmid"]: 0x02})
    elif k in ("powerdown", "standby"):
        for b in blocks:
            e[r[b]] = 0x00
        if k == "powerdown":
            e.update({r["power"]: 0xFF, r["vmid"]: 0x00, r["clock"]: 0x00})
        else:
            e[r["power"]] = 0x0F
    elif k == "pathdown":
        for out in p["outputs"]:
            e[r[OUTPUTS[out][0]]] = 0x00
        if p["input"]:
            e[r["adcpower"]] = 0x00
            for b in INPUTS[p["input"]][1]:
                e[r[b]] = 0x00
    else:
        e[r["lowpower"]] = 0x01 if p["lp"] else 0x00
        e[r["clock"]] = 0x7F if p["nomclk"] else 0x3F
        if p["nomclk"]:
            e[r["pll"]] = 0x81
        if p["tdm"]:
            e[r["format"]] = FORMAT[p["tdm"][0]]
            e[r["tdm"]] = 0x00 if p["tdm"][1] is None else (0x81 if p["tdm"][1] else 0x01)
        if p["gain"] is not None:
            e[r["pga"]] = 2 * p["gain"]
        for out in p["outputs"]:
            reg, value = OUTPUTS[out]
            e[r[reg]] = value
        if p["bypass"]:
            select, carriers = BYPASS[p["bypass"]]
            e.update({r["input"]: select, r["mix_l"]: MIX_INPUT, r["mix_r"]: MIX_INPUT})
            e.update({r[b]: v for b, v in carriers.items()})
        elif p["outputs"]:
            e[r["dac"]] = 0x03
            mix = MIX_DAC | (MIX_INPUT if p["fm"] else 0)
            e.update({r["mix_l"]: mix, r["mix_r"]: mix})
            if p["fm"]:
                e[r["input"]] = 0x11
                e[r["linein1"]] = 0x03
        if p["input"]:
            select, carriers = INPUTS[p["input"]]
            e.update({r["adcpower"]: 0x03, r["input"]: select})
            e.update({r[b]: v for b, v in carriers.items()})
        e[r["mute"]] = 0x00
    return e


# --- sequences ---------------------------------------------------------------------------------


class Seq:
    def __init__(self, model):
        self.model = model
        self.lines = []

    def w(self, reg, value, comment):
        check_write(self.model, reg, value, comment)
        self.lines.append(":W%02X%02X@ %s" % (reg, value, comment))

    def d(self, ms, comment=None):
        self.lines.append(":D%04X@ %s" % (ms, comment or "wait %d ms" % ms))

    def c(self, comment):
        self.lines.append(":C0000@ ---- %s ----" % comment)

    def text(self):
        return "".join(line + "\r\n" for line in self.lines)

    def writes(self):
        last = {}
        for line in self.lines:
            if line[1] == "W":
                last[int(line[2:4], 16)] = int(line[4:6], 16)
        return last


BLOCK_NAMES = {"dac": "DAC", "hp": "headphone amplifier", "spk": "speaker amplifier", "lout": "line output",
               "mono": "mono output", "adcpower": "ADC", "linein1": "LIN1/RIN1 input buffers",
               "linein2": "LIN2/RIN2 input buffers", "micbias": "microphone bias",
               "monoin": "mono input buffer", "dmic": "digital microphone interface"}


def small_sequence(p, downs):
    r = SMALL
    s = Seq("small")
    k = p["kind"]
    if k == "reset":
        s.c("register reset")
        s.w(r["reset"], 0x80, "soft reset")
        s.d(0x0A)
        s.w(r["reset"], 0x00, "release reset")
    elif k == "powerdown":
        s.c("power down")
        s.w(r["mute"], 0x03, "mute both channels")
        s.d(0x0A)
        s.w(r["adc"], 0x00, "ADC off")
        s.w(r["power"], 0xFF, "all blocks powered down")
        s.d(0x32, "wait 50 ms for the references to discharge")
    elif k == "resume":
        s.c("resume: what the power-down switched off comes back")
        s.w(r["power"], 0x00, "blocks powered up")
        s.d(0x32, "wait 50 ms for VMID")
        s.w(r["adc"], 0x03, "ADC on")
        s.w(r["mute"], 0x00, "unmute")
    else:
        gain = p["gain"] or 0
        supply = p["supply"] or "3V3"
        s.c("power up")
        s.w(r["reset"], 0x80, "reset")
        s.d(0x64, "wait 100 ms")
        s.w(r["reset"], 0x00, "release reset")
        s.w(r["clock"], 0x01, "MCLK from pin, slave mode")
        s.w(r["supply"], SUPPLY[supply], "analogue supply %s V" % supply.replace("V", "."))
        s.w(r["lowpower"], 0x3F if p["lp"] else 0x00, "low-power mode %s" % ("on" if p["lp"] else "off"))
        s.w(r["power"], 0x00, "power up references and ADC")
        s.d(0xC8, "wait 200 ms for VMID to settle")
        s.c("path")
        if p["input"] == "dmic":
            s.w(r["input"], 0x00, "analogue inputs disconnected")
            s.w(r["dmic"], 0x01, "digital microphone on")
        else:
            ch = p["channel"] or 1
            s.w(r["input"], 1 << (ch - 1), "input select CH%d" % ch)
            s.w(r["pga"], 2 * gain, "PGA gain %d dB" % gain)
        s.w(r["format"], 0x00, "I2S, 24-bit")
        s.w(r["volume"], 0xBF, "digital volume 0 dB")
        s.w(r["adc"], 0x03, "ADC left and right on")
        s.w(r["mute"], 0x00, "unmute")
    return s


def wide_sequence(p, blocks, downs):
    r = WIDE
    s = Seq("wide")
    k = p["kind"]
    if k == "reset":
        s.c("register reset")
        s.w(r["reset"], 0x80, "soft reset")
        s.d(0x0A)
        s.w(r["reset"], 0x00, "release reset")
        return s
    if k == "eqclear":
        s.c("equaliser off")
        s.w(r["eq"], 0x00, "EQ disabled")
        for i in range(1, 11):
            s.w(r["eq"] + i, 0x00, "EQ coefficient %d cleared" % i)
        return s
    if k in ("powerdown", "standby"):
        s.c("standby" if k == "standby" else "power down")
        s.w(r["mute"], 0x03, "soft-mute DAC and ADC")
        s.d(0x14, "wait 20 ms for the ramp")
        for b in blocks:
            s.w(r[b], 0x00, "%s off" % BLOCK_NAMES[b])
        if k == "standby":
            s.w(r["power"], 0x0F, "analogue blocks off, VMID kept")
        else:
            s.w(r["power"], 0xFF, "all analogue blocks off")
            s.w(r["vmid"], 0x00, "VMID off")
            s.d(0x64, "wait 100 ms for the references to discharge")
            s.w(r["clock"], 0x00, "clocks stopped")
        return s
    if k == "resume":
        s.c("resume: what standby and power-down switched off comes back")
        names = {a: n for n, a in r.items()}
        for reg in (r["clock"], r["vmid"], r["power"]):
            if reg in downs:
                s.w(reg, ON[names[reg]], {"clock": "clocks on", "vmid": "VMID 50k",
                                          "power": "analogue blocks on"}[names[reg]])
        s.d(0x64, "wait 100 ms for VMID")
        for reg in sorted(downs):
            name = names[reg]
            if name in BLOCK_NAMES:
                s.w(reg, ON[name], "%s on" % BLOCK_NAMES[name])
        s.d(0x0A)
        s.w(r["mute"], 0x00, "unmute")
        return s
    if k == "pathdown":
        s.c("path down")
        s.w(r["mute"], 0x03, "soft-mute")
        s.d(0x0A)
        for out in p["outputs"]:
            s.w(r[OUTPUTS[out][0]], 0x00, "%s off" % BLOCK_NAMES[OUTPUTS[out][0]])
        if p["input"]:
            s.w(r["adcpower"], 0x00, "ADC off")
            for b in INPUTS[p["input"]][1]:
                s.w(r[b], 0x00, "%s off" % BLOCK_NAMES[b])
            if p["input"] != "dmic":
                s.w(r["input"], 0x00, "input disconnected")
        return s
    # Power-up, and everything else starts the codec and sets up a path.
    s.c("power up")
    s.w(r["reset"], 0x80, "reset")
    s.d(0x64, "wait 100 ms")
    s.w(r["reset"], 0x00, "release reset")
    if p["nomclk"]:
        s.w(r["clock"], 0x7F, "clocks from the PLL, no MCLK needed")
        s.w(r["pll"], 0x81, "PLL on, reference BCLK")
        s.d(0x0A, "wait 10 ms for PLL lock")
    else:
        s.w(r["clock"], 0x3F, "clocks on, MCLK from pin")
        s.w(r["clkdiv"], 0x00, "MCLK/LRCK 256")
    lp = p["lp"]
    s.w(r["vmid"], 0x02, "VMID 50k")
    s.w(r["bias"], 0x0A if lp else 0x00, "bias %s" % ("reduced" if lp else "normal"))
    s.w(r["lowpower"], 0x01 if lp else 0x00, "low-power mode %s" % ("on" if lp else "off"))
    s.w(r["power"], 0x00, "analogue references on")
    s.d(0xC8, "wait 200 ms for VMID to settle")
    if k == "powerup":
        s.w(r["format"], 0x0C, "I2S slave, 24-bit")
        s.w(r["mute"], 0x03, "outputs muted until a path is chosen")
        return s
    s.c("path")
    tdm = p["tdm"]
    s.w(r["format"], FORMAT[tdm[0]] if tdm else 0x0C, "serial port format %s" % (tdm[0] if tdm else "I2S"))
    if tdm:
        chained = tdm[1]
        s.w(r["tdm"], 0x00 if chained is None else (0x81 if chained else 0x01),
            "TDM off" if chained is None else "TDM input, %s" % ("chained devices" if chained else "one device"))
    if p["bypass"]:
        select, carriers = BYPASS[p["bypass"]]
        for b, v in carriers.items():
            s.w(r[b], v, "%s on" % BLOCK_NAMES[b])
        s.w(r["input"], select, "bypass source %s" % {"lin": "LIN/RIN", "monop": "MONOP single-ended",
                                                      "monodiff": "MONOP/N differential"}[p["bypass"]])
        s.w(r["mix_l"], MIX_INPUT, "left mixer from the input, DAC not used")
        s.w(r["mix_r"], MIX_INPUT, "right mixer from the input, DAC not used")
    elif p["outputs"]:
        s.w(r["dac"], 0x03, "DAC left and right on")
        s.w(r["dacvol_l"], 0xC0, "DAC left 0 dB")
        s.w(r["dacvol_r"], 0xC0, "DAC right 0 dB")
        if p["fm"]:
            s.w(r["linein1"], 0x03, "LIN1/RIN1 input buffers on (FM receiver)")
            s.w(r["input"], 0x11, "FM receiver on LIN1/RIN1")
        mix = MIX_DAC | (MIX_INPUT if p["fm"] else 0)
        src = "DAC and FM input" if p["fm"] else "DAC"
        s.w(r["mix_l"], mix, "left mixer from %s" % src)
        s.w(r["mix_r"], mix, "right mixer from %s" % src)
    for out in p["outputs"]:
        reg, value = OUTPUTS[out]
        what = {"hp": "headphone output on", "hpcom": "headphone output on, common-mode (capless) drive",
                "spk": "speaker output on", "mono": "mono output on", "lout": "line output on"}[out]
        s.w(r[reg], value, what)
        if reg == "hp":
            s.w(r["hpvol"], 0x39, "headphone volume -6 dB")
        if reg == "spk":
            s.w(r["spkvol"], 0x39, "speaker volume -6 dB")
    if p["input"]:
        select, carriers = INPUTS[p["input"]]
        s.w(r["adcpower"], 0x03, "ADC left and right on")
        for b, v in carriers.items():
            s.w(r[b], v, "%s on" % BLOCK_NAMES[b])
        s.w(r["input"], select, "PGA input select" if select else "analogue inputs disconnected")
        if p["input"] != "dmic":
            gain = 24 if p["gain"] is None else p["gain"]
            s.w(r["pga"], 2 * gain, "PGA gain %d dB" % gain)
        s.w(r["adcvol"], 0xC0, "ADC volume 0 dB")
        s.w(r["alc"], 0x00, "ALC off")
    s.d(0x0A)
    s.w(r["mute"], 0x00, "unmute")
    return s


def equaliser():
    s = Seq("wide")
    r = WIDE
    s.c("five-band equaliser, flat with a gentle low-shelf lift")
    s.w(r["eq"], 0x00, "EQ off while the coefficients change")
    bands = [(0x31, 0x0C, "band 1 gain +3 dB, 100 Hz"), (0x32, 0x02, "band 1 shelf"),
             (0x33, 0x0A, "band 2 gain +1 dB, 300 Hz"), (0x34, 0x11, "band 2 Q 1.1"),
             (0x35, 0x08, "band 3 gain 0 dB, 1 kHz"), (0x36, 0x14, "band 3 Q 1.4"),
             (0x37, 0x07, "band 4 gain -1 dB, 3 kHz"), (0x38, 0x11, "band 4 Q 1.1"),
             (0x39, 0x08, "band 5 gain 0 dB, 10 kHz"), (0x3A, 0x02, "band 5 shelf")]
    for reg, value, comment in bands:
        s.w(reg, value, comment)
    s.d(0x05, "wait 5 ms")
    s.w(r["eq"], 0x1F, "EQ on, all five bands")
    return s


# --- output ------------------------------------------------------------------------------------


def build():
    """{relative path: text} of every file, expectations.txt included."""
    files = {}
    table = ["# Written by make_presets.py: what each preset file's caption promises, as the value",
             "# each register holds after the file (the last write wins). A file that several",
             "# buttons send is listed for the first. folder/file|button|caption|RR=VV ..."]
    for chip, (folder, highest, model, buttons) in CHIPS.items():
        blocks = chip_blocks(buttons) if model == "wide" else []
        seqs, downs = {}, set()
        # Power-down and standby first: resume restores what they switch off.
        ordered = sorted(buttons, key=lambda b: promise(b[1])["kind"] != "powerdown" and
                         promise(b[1])["kind"] != "standby")
        for button, caption, name in ordered:
            if name in seqs:
                continue
            p = promise(caption)
            seq = small_sequence(p, downs) if model == "small" else wide_sequence(p, blocks, downs)
            if p["kind"] in ("powerdown", "standby"):
                downs |= set(seq.writes())
            seqs[name] = (button, caption, p, seq)
        listed = set()
        for button, caption, name in buttons:
            if name in listed:
                continue
            listed.add(name)
            _, _, p, seq = seqs[name]
            for line in seq.lines:
                assert line[1] != "W" or int(line[2:4], 16) <= highest, (chip, name, line)
            text = seq.text()
            assert len(text.replace("\r\n", "\n")) <= 4000 and len(seq.lines) <= 500, (chip, name)
            files[os.path.join(folder, name)] = text
            want = expected(model, p, blocks, downs)
            table.append("%s/%s|%s|%s|%s" % (folder, name, button, caption,
                                             " ".join("%02X=%02X" % kv for kv in sorted(want.items()))))
        files[os.path.join("regmaps", chip + ".regmap.json")] = regmap_text(chip, model, highest)
    files["CorvaneEQ.TXT"] = equaliser().text()
    files["expectations.txt"] = "".join(line + "\n" for line in table)
    return files


def main():
    files = build()
    if "--check" in sys.argv[1:]:
        stale = []
        for rel, text in sorted(files.items()):
            try:
                with open(os.path.join(HERE, rel), newline="") as f:
                    if f.read() == text:
                        continue
            except OSError:
                pass
            stale.append(rel)
        for rel in stale:
            print("presets/%s: not what make_presets.py writes; run presets/make_presets.py" % rel)
        return 1 if stale else 0
    for rel, text in files.items():
        path = os.path.join(HERE, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text)
    print("wrote %d files" % len(files))
    return 0


if __name__ == "__main__":
    sys.exit(main())
