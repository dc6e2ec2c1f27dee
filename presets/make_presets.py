#!/usr/bin/env python3
"""Writes the preset files the register console's buttons send, and the equaliser file.

Every file is a block of configuration lines (":Wrrvv@ comment", ":Dhhll@ comment",
":Gaabb@ comment", ":Caabb@ comment"), CR LF line ends as the files have always come from
Windows. The sequences are plausible for a codec of the given register range: power-up with
settling delays, path set-up, and power-down. Run from anywhere; output goes next to this script.
"""
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))

# Highest register address of each chip (the register console's check).
HIGHEST = {
    "KV1120": 0x4C, "KV1150": 0x0F, "KV1160": 0x0F, "KV1160L": 0x0F, "KV1160E": 0xFF,
    "KV2210": 0x4F, "KV2210S": 0xFF, "KV2330": 0x3F, "KV2440": 0xFF, "KV2450": 0xFF,
    "KV2460": 0x53, "KV2640": 0x7F, "KV2650": 0x3D, "KV2930": 0x7F, "Corvane": 0xFF,
}

# Register roles: the small map for the 16-register ADCs, the wide one for everything else.
SMALL = dict(reset=0x00, clock=0x01, power=0x02, adc=0x03, pga=0x04, input=0x05, format=0x06,
             volume=0x07, mute=0x08, lowpower=0x09, bias=0x0A, tdm=0x0B)
WIDE = dict(reset=0x00, clock=0x01, clkdiv=0x02, pll=0x03, format=0x09, sdpout=0x0A, tdm=0x0B,
            adcpower=0x0D, adc=0x0E, adcvol=0x10, pga=0x12, input=0x13, dmic=0x14, alc=0x15,
            dac=0x17, dacvol_l=0x18, dacvol_r=0x19, mix_l=0x1A, mix_r=0x1B, hp=0x1C, hpvol=0x1D,
            spk=0x1E, spkvol=0x1F, lout=0x20, mono=0x21, power=0x22, vmid=0x23, bias=0x24,
            mute=0x25, lowpower=0x26, eq=0x30)

PRESETS = {
    "KV1120": ["KV1120_IIS Mode 0DB.TXT", "KV1120_IIS Mode 27DB.TXT", "KV1120_IIS Mode 34DB.TXT",
               "KV1120_1 TDMIN-IIS 30DB.TXT", "KV1120_1 TDMIN-DSPA 30DB.TXT",
               "KV1120_1 TDMIN-DSPB 30DB.TXT", "KV1120_N TDMIN-IIS 30DB.TXT",
               "KV1120_PowerDown.TXT", "KV1120_Resume.TXT"],
    "KV1150": ["KV1150_Lin1.TXT", "KV1150_Lin2.TXT", "KV1150_Lin3.TXT", "KV1150_Lin4.TXT",
               "KV1150_PowerDown.TXT", "KV1150_Resume.TXT"],
    "KV1160": ["KV1160_Lin_1DB_3V3.TXT", "KV1160_Lin_18DB_3V3.TXT", "KV1160_Lin_27DB_3V3.TXT",
               "KV1160_Lin_1DB_3V3_LP.TXT", "KV1160_Lin_27dB_3V3_LP.TXT", "KV1160_Lin_27DB_1V8.TXT",
               "KV1160_Lin_27DB_1V8_LP.TXT", "KV1160_PowerDown.TXT", "KV1160_Resume.TXT"],
    "KV1160L": ["KV1160L_Lin_1DB_3V3.TXT", "KV1160L_Lin_18DB_3V3.TXT", "KV1160L_Lin_27DB_3V3.TXT",
                "KV1160L_Lin_1DB_3V3_LP.TXT", "KV1160L_Lin_27dB_3V3_LP.TXT",
                "KV1160L_Lin_27DB_1V8.TXT", "KV1160L_Lin_27DB_1V8_LP.TXT", "KV1160L_PowerDown.TXT",
                "KV1160L_Resume.TXT"],
    "KV1160E": ["KV1160E_Lin_0DB_3V3.TXT", "KV1160E_Lin_0DB_3V3_LP.TXT", "KV1160E_Lin_27DB_3V3.TXT",
                "KV1160E_Lin_27DB_3V3_LP.TXT", "KV1160E_Lin_0DB_1V8.TXT", "KV1160E_Lin_0DB_1V8_LP.TXT",
                "KV1160E_Lin_27DB_1V8.TXT", "KV1160E_Lin_27DB_1V8_LP.TXT", "KV1160E_PowerDown.TXT",
                "KV1160E_Resume.TXT", "KV1160E_Reset.TXT", "KV1160E_Dmic.TXT"],
    "KV2210": ["KV2210_DAC.TXT", "KV2210_Bypass_Lin.TXT", "KV2210_Bypass_MonoP.TXT",
               "KV2210_Bypass_MonoDiff.TXT", "KV2210_PowerDown.TXT"],
    "KV2210S": ["KV2210S_DAC.TXT", "KV2210S_DAC_LP.TXT", "KV2210S_DAC_HP.TXT", "KV2210S_DAC_HPCOM.TXT",
                "KV2210S_PowerDown.TXT", "KV2210S_Reset.TXT", "KV2210S_EQ_Clear.TXT"],
    "KV2330": ["KV2330_Powerup.TXT", "KV2330_Lin1.TXT", "KV2330_Lin2.TXT", "KV2330_Dmicin.TXT",
               "KV2330_PowerDown.TXT", "KV2330_Lin1_PD.TXT", "KV2330_Lin2_PD.TXT", "KV2330_Dmicin_PD.TXT"],
    "KV2440": ["KV2440_DAC_Line.TXT", "KV2440_DAC_Hp.TXT", "KV2440_ADC.TXT", "KV2440_Codec.TXT",
               "KV2440_Codec_NoMclk.TXT", "KV2440_Codec_Lp.TXT", "KV2440_ADC_DMIC.TXT",
               "KV2440_ADC_AMIC.TXT", "KV2440_Standby.TXT", "KV2440_PowerDown.TXT", "KV2440_Reset.TXT"],
    "KV2450": ["KV2450_DAC_Line.TXT", "KV2450_DAC_Hp.TXT", "KV2450_ADC.TXT", "KV2450_Codec.TXT",
               "KV2450_Codec_NoMclk.TXT", "KV2450_Codec_Lp.TXT", "KV2450_ADC_DMIC.TXT",
               "KV2450_ADC_AMIC.TXT", "KV2450_DAC_FM.TXT", "KV2450_Standby.TXT", "KV2450_PowerDown.TXT",
               "KV2450_Reset.TXT"],
    "KV2460": ["KV2460_Powerup.TXT", "KV2460_Hpout.TXT", "KV2460_Lin1.TXT", "KV2460_Lin2.TXT",
               "KV2460_Dmicin.TXT", "KV2460_Codec.TXT", "KV2460_Hpout_PD.TXT", "KV2460_Lin1_PD.TXT",
               "KV2460_Lin2_PD.TXT", "KV2460_Dmicin_PD.TXT", "KV2460_PowerDown.TXT"],
    "KV2640": ["KV2640_HPout.TXT", "KV2640_Spkout.TXT", "KV2640_Lin1.TXT", "KV2640_Lin2.TXT",
               "KV2640_Amicin.TXT", "KV2640_Dmicin.TXT", "KV2640_Codec.TXT", "KV2640_Standby.TXT",
               "KV2640_Resume.TXT", "KV2640_PowerDown.TXT"],
    "KV2650": ["KV2650_HPout.TXT", "KV2650_Lin1.TXT", "KV2650_Lin2.TXT", "KV2650_AMIC1.TXT",
               "KV2650_AMIC2.TXT", "KV2650_Codec.TXT", "KV2650_PowerDown.TXT", "KV2650_Resume.TXT"],
    "KV2930": ["KV2930_Powerup.TXT", "KV2930_Hpout.TXT", "KV2930_Spkout.TXT", "KV2930_Monoout.TXT",
               "KV2930_Lout.TXT", "KV2930_Micin.TXT", "KV2930_Monoin.TXT", "KV2930_Lin.TXT",
               "KV2930_Dmicin.TXT", "KV2930_Powerdown.TXT", "KV2930_Hpout_PD.TXT",
               "KV2930_Spkout_PD.TXT", "KV2930_Monoout_PD.TXT", "KV2930_Lout_PD.TXT",
               "KV2930_Micin_PD.TXT", "KV2930_Monoin_PD.TXT", "KV2930_Lin_PD.TXT",
               "KV2930_Dmicin_PD.TXT"],
}
FOLDER = {"KV2930": "KV29xx"}

# The maker's own board: A1 power-up, A2..A5 playback paths, A6..A9 record paths, A10 power-down;
# B1..B8 take the matching path down again.
CORVANE_A = ["powerup", "hp", "spk", "mono", "line", "mic", "monoin", "lin", "dmic", "powerdown"]
CORVANE_B = ["hp", "spk", "mono", "line", "mic", "monoin", "lin", "dmic"]


class Seq:
    def __init__(self):
        self.lines = []

    def w(self, reg, value, comment):
        self.lines.append(":W%02X%02X@ %s" % (reg, value, comment))

    def d(self, ms, comment=None):
        self.lines.append(":D%04X@ %s" % (ms, comment or "wait %d ms" % ms))

    def g(self, a, b, comment):
        self.lines.append(":G%02X%02X@ %s" % (a, b, comment))

    def c(self, comment):
        self.lines.append(":C0000@ ---- %s ----" % comment)

    def text(self):
        return "".join(line + "\r\n" for line in self.lines)


def gain_code(name):
    m = re.search(r"(\d+)d[bB]", name.replace("DB", "dB"))
    db = int(m.group(1)) if m else 0
    return min(db * 2, 0x7F), db


def small_adc(name):
    r = SMALL
    s = Seq()
    base = os.path.splitext(name)[0]
    if "PowerDown" in base:
        s.c("power down")
        s.w(r["mute"], 0x03, "mute both channels")
        s.d(0x0A)
        s.w(r["adc"], 0x00, "ADC off")
        s.w(r["power"], 0xFF, "all blocks powered down")
        s.d(0x32, "wait 50 ms for the references to discharge")
        return s
    if "Resume" in base:
        s.c("resume")
        s.w(r["power"], 0x00, "blocks powered up")
        s.d(0x32, "wait 50 ms for VMID")
        s.w(r["adc"], 0x03, "ADC on")
        s.w(r["mute"], 0x00, "unmute")
        return s
    code, db = gain_code(base)
    s.c("power up")
    s.w(r["reset"], 0x80, "reset")
    s.d(0x64, "wait 100 ms")
    s.w(r["reset"], 0x00, "release reset")
    s.w(r["clock"], 0x01, "MCLK from pin, slave mode")
    s.w(r["bias"], 0x0C if "1V8" in base else 0x04, "analogue supply %s" % ("1.8 V" if "1V8" in base else "3.3 V"))
    s.w(r["lowpower"], 0x3F if "_LP" in base else 0x00, "low-power mode %s" % ("on" if "_LP" in base else "off"))
    s.w(r["power"], 0x00, "power up references and ADC")
    s.d(0xC8, "wait 200 ms for VMID to settle")
    s.c("path")
    m = re.search(r"_Lin(\d)$", base)
    channel = int(m.group(1)) if m else 1
    s.w(r["input"], 1 << (channel - 1), "input select CH%d" % channel)
    s.w(r["pga"], code, "PGA gain %d dB" % db)
    s.w(r["format"], 0x00, "I2S, 24-bit")
    s.w(r["volume"], 0xBF, "digital volume 0 dB")
    s.w(r["adc"], 0x03, "ADC left and right on")
    s.w(r["mute"], 0x00, "unmute")
    return s


def wide_sequence(kind, name):
    r = WIDE
    s = Seq()
    lp = "Lp" in name or "_LP" in name
    if kind == "reset":
        s.c("register reset")
        s.w(r["reset"], 0x80, "soft reset")
        s.d(0x0A)
        s.w(r["reset"], 0x00, "release reset")
        return s
    if kind == "eqclear":
        s.c("equaliser off")
        s.w(r["eq"], 0x00, "EQ disabled")
        for i in range(1, 11):
            s.w(r["eq"] + i, 0x00, "EQ coefficient %d cleared" % i)
        return s
    if kind in ("powerdown", "standby"):
        s.c("standby" if kind == "standby" else "power down")
        s.w(r["mute"], 0x03, "soft-mute DAC and ADC")
        s.d(0x14, "wait 20 ms for the ramp")
        s.w(r["hp"], 0x00, "headphone amplifier off")
        s.w(r["spk"], 0x00, "speaker amplifier off")
        s.w(r["lout"], 0x00, "line output off")
        s.w(r["adcpower"], 0x00, "ADC off")
        s.w(r["dac"], 0x00, "DAC off")
        if kind == "standby":
            s.w(r["power"], 0x0F, "analogue blocks off, VMID kept")
        else:
            s.w(r["power"], 0xFF, "all analogue blocks off")
            s.w(r["vmid"], 0x00, "VMID off")
            s.d(0x64, "wait 100 ms for the references to discharge")
            s.w(r["clock"], 0x00, "clocks stopped")
        return s
    if kind == "resume":
        s.c("resume")
        s.w(r["clock"], 0x3F, "clocks on")
        s.w(r["vmid"], 0x02, "VMID 50k")
        s.w(r["power"], 0x00, "analogue blocks on")
        s.d(0x64, "wait 100 ms for VMID")
        s.w(r["mute"], 0x00, "unmute")
        return s
    if kind.endswith("_pd"):
        path = kind[:-3]
        s.c("%s down" % path)
        s.w(r["mute"], 0x03 if path in ("hp", "spk", "line", "mono", "dac") else 0x01, "soft-mute")
        s.d(0x0A)
        block = {"hp": "hp", "spk": "spk", "line": "lout", "mono": "mono"}.get(path, "adcpower")
        s.w(r[block], 0x00, "%s off" % path)
        if block == "adcpower":
            s.w(r["input"], 0x00, "input disconnected")
        if path == "dmic":
            s.w(r["dmic"], 0x00, "digital microphone clock off")
        return s
    # Everything else starts the codec and sets up a path.
    s.c("power up")
    s.w(r["reset"], 0x80, "reset")
    s.d(0x64, "wait 100 ms")
    s.w(r["reset"], 0x00, "release reset")
    if "NoMclk" in name:
        s.w(r["clock"], 0x7F, "clocks from the PLL, no MCLK needed")
        s.w(r["pll"], 0x81, "PLL on, reference BCLK")
        s.d(0x0A, "wait 10 ms for PLL lock")
    else:
        s.w(r["clock"], 0x3F, "clocks on, MCLK from pin")
        s.w(r["clkdiv"], 0x00, "MCLK/LRCK 256")
    s.w(r["vmid"], 0x02 if not lp else 0x04, "VMID %s" % ("50k" if not lp else "500k (low power)"))
    s.w(r["bias"], 0x00 if not lp else 0x0A, "bias %s" % ("normal" if not lp else "reduced"))
    s.w(r["power"], 0x00, "analogue references on")
    s.d(0xC8, "wait 200 ms for VMID to settle")
    if kind == "powerup":
        s.w(r["format"], 0x0C, "I2S slave, 24-bit")
        s.w(r["mute"], 0x03, "outputs muted until a path is chosen")
        return s
    s.c("path")
    tdm = re.search(r"TDMIN-(IIS|DSPA|DSPB)", name)
    fmt = {"IIS": 0x0C, "DSPA": 0x0F, "DSPB": 0x1F}[tdm.group(1)] if tdm else 0x0C
    s.w(r["format"], fmt, "serial port format %s" % (tdm.group(1) if tdm else "I2S"))
    if tdm:
        s.w(r["tdm"], 0x81 if "_N " in name else 0x01, "TDM input, %s" % ("chained" if "_N " in name else "one device"))
    if kind in ("hp", "spk", "line", "mono", "dac", "codec", "fm", "bypass"):
        s.w(r["dac"], 0x03, "DAC left and right on")
        s.w(r["dacvol_l"], 0xC0, "DAC left 0 dB")
        s.w(r["dacvol_r"], 0xC0, "DAC right 0 dB")
        s.w(r["mix_l"], 0x80 if kind != "bypass" else 0x40, "left mixer from %s" % ("DAC" if kind != "bypass" else "input"))
        s.w(r["mix_r"], 0x80 if kind != "bypass" else 0x40, "right mixer from %s" % ("DAC" if kind != "bypass" else "input"))
        out = {"hp": "hp", "spk": "spk", "mono": "mono", "bypass": "lout"}.get(kind, "lout")
        if kind in ("codec", "dac"):
            out = "hp"
        s.w(r[out], 0x03, "%s output on" % {"hp": "headphone", "spk": "speaker", "mono": "mono", "lout": "line"}[out])
        if out == "hp":
            s.w(r["hpvol"], 0x39, "headphone volume -6 dB")
        if out == "spk":
            s.w(r["spkvol"], 0x39, "speaker volume -6 dB")
        if kind == "fm":
            s.g(0x01, 0x02, "board: FM input routed to the codec")
    if kind in ("lin1", "lin2", "mic", "monoin", "amic1", "amic2", "adc", "codec", "dmic", "tdm"):
        s.w(r["adcpower"], 0x03, "ADC left and right on")
        if kind == "dmic":
            s.w(r["dmic"], 0x01, "digital microphone on, clock 64 fs")
        else:
            src = {"lin1": 0x11, "lin2": 0x22, "mic": 0x44, "monoin": 0x88, "amic1": 0x11,
                   "amic2": 0x22}.get(kind, 0x11)
            s.w(r["input"], src, "PGA input select")
            code, db = gain_code(name)
            s.w(r["pga"], code if db else 0x18, "PGA gain %d dB" % (db if db else 24))
        s.w(r["adcvol"], 0xC0, "ADC volume 0 dB")
        s.w(r["alc"], 0x00, "ALC off")
    s.d(0x0A)
    s.w(r["mute"], 0x00, "unmute")
    return s


def wide_kind(base):
    name = base.split("_", 1)[1] if "_" in base else base
    low = name.lower()
    if low.startswith("eq_clear"):
        return "eqclear"
    if low == "reset":
        return "reset"
    if low == "standby":
        return "standby"
    if low in ("powerdown",):
        return "powerdown"
    if low == "resume":
        return "resume"
    if low == "powerup":
        return "powerup"
    if low.endswith("_pd"):
        stem = low[:-3]
        return {"hpout": "hp", "spkout": "spk", "monoout": "mono", "lout": "line", "micin": "mic",
                "monoin": "monoin", "lin": "lin", "lin1": "lin1", "lin2": "lin2",
                "dmicin": "dmic"}[stem] + "_pd"
    if "tdmin" in low or "iis mode" in low:
        return "tdm"
    table = [("hpout", "hp"), ("dac_hp", "hp"), ("spkout", "spk"), ("monoout", "mono"),
             ("lout", "line"), ("dac_line", "line"), ("dac_fm", "fm"), ("bypass", "bypass"),
             ("dmic", "dmic"), ("amicin", "amic2"), ("amic1", "amic1"), ("amic2", "amic2"),
             ("adc_amic", "amic1"), ("micin", "mic"), ("monoin", "monoin"), ("lin1", "lin1"),
             ("lin2", "lin2"), ("lin", "lin1"), ("adc", "adc"), ("codec", "codec"), ("dac", "dac")]
    for key, kind in table:
        if key in low:
            return kind
    raise ValueError("no sequence for " + base)


def check(seq, chip, name):
    highest = HIGHEST[chip]
    for line in seq.lines:
        if line[1] == "W":
            assert int(line[2:4], 16) <= highest, (chip, name, line)
    data = seq.text().replace("\r\n", "\n")
    assert len(data) <= 4000, (chip, name, len(data))
    assert len(seq.lines) <= 500


def write(path, seq):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write(seq.text())


def equaliser():
    s = Seq()
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


def main():
    count = 0
    for chip, files in PRESETS.items():
        folder = FOLDER.get(chip, chip)
        for name in files:
            base = os.path.splitext(name)[0]
            seq = small_adc(name) if HIGHEST[chip] == 0x0F else wide_sequence(wide_kind(base), base)
            check(seq, chip, name)
            write(os.path.join(HERE, folder, name), seq)
            count += 1
    for i, kind in enumerate(CORVANE_A, start=1):
        seq = wide_sequence(kind, "Corvane_A%d" % i)
        check(seq, "Corvane", kind)
        write(os.path.join(HERE, "Corvane", "Corvane_A%d.TXT" % i), seq)
        count += 1
    for i, path in enumerate(CORVANE_B, start=1):
        seq = wide_sequence(path + "_pd", "Corvane_B%d" % i)
        check(seq, "Corvane", path)
        write(os.path.join(HERE, "Corvane", "Corvane_B%d.TXT" % i), seq)
        count += 1
    seq = equaliser()
    check(seq, "Corvane", "EQ")
    write(os.path.join(HERE, "CorvaneEQ.TXT"), seq)
    count += 1
    print("wrote %d files" % count)


if __name__ == "__main__":
    main()
