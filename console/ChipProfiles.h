#pragma once
// Chip profiles: for every codec type the register console serves, how the console looks
// (captions, grid size, which preset buttons are shown) and which preset files the buttons
// send. Constant tables; the only state they drive lives in RegisterState.

#include <array>
#include <cstdint>
#include <string>

namespace evb {

constexpr int kProfileCount = 21;
constexpr int kNoProfile = kProfileCount; // FindChipProfile's answer for an unknown code
constexpr int kPresetButtonCount = 21;

// Preset buttons in table order: A1..A10, B1..B8, C1..C3.
constexpr int kButtonA1 = 0;
constexpr int kButtonB1 = 10;
constexpr int kButtonB4 = 13;
constexpr int kButtonC1 = 18;
constexpr int kButtonC2 = 19;
constexpr int kButtonC3 = 20;

// What the C buttons of a profile do.
enum class CButtonRole : std::uint8_t {
    None,      // C buttons do nothing
    Equaliser, // C1 sends the equaliser file, C2 and C3 only log
    AutoPress  // C1 steps through A1..A10, B1..B8 (the maker's profile)
};

struct ChipProfile {
    std::int32_t code;
    const char* chip; // the chip's name
    const char* windowCaption;
    const char* groupCaption;
    std::uint8_t regCount; // 255 stands for all 256 registers
    bool fullSetup;        // false: applying the profile keeps the previous layout
    const char* folder;    // preset folder below the program folder; nullptr: no presets
    std::array<const char*, kPresetButtonCount> captions; // nullptr: hidden
    std::array<const char*, kPresetButtonCount> files;    // A and B buttons; nullptr: no file
    CButtonRole cRole;
    const char* c1Caption; // caption written in the C1 console line of Equaliser profiles
};

const std::array<ChipProfile, kProfileCount>& ChipProfileTable();

// Row of the first profile whose code matches, or kNoProfile.
int FindChipProfile(std::int32_t code);

// The profile of the current CodecType, or nullptr when it is in no row.
const ChipProfile* CurrentChipProfile();

// Grid data rows a register count needs: count / 16 rounded up.
int GridDataRows(std::uint8_t regCount);

// "A1" .. "A10", "B1" .. "B8", "C1" .. "C3".
std::string PresetButtonName(int index);

// Number the last-preset-button counter uses: A1..A10 1..10, B1..B8 11..18; 0 for C buttons.
int PresetButtonNumber(int index);

// The equaliser file of C1, directly in the program folder.
constexpr const char* kEqualiserFile = "CorvaneEQ.TXT";

// Rearranges the register console for CodecType, asks the board for all registers and redraws
// the grid from the register shadow. Reads CodecType and the highest register address; writes
// the register count and the read-progress flag. UI thread only.
void ApplyChipProfile();

} // namespace evb
