#pragma once
// The codec table: one row per chip of the main window's "Codec Type" menu, in menu order.
// Each row holds the menu entry (caption, the CodecType and highest register address it sets,
// which main-window controls it enables) and the chip profile (how the register console looks
// for that CodecType: captions, grid size, which preset buttons are shown, and the preset
// folder and files they send). Constant data and lookups; applying a profile to the register
// console is the console's own.

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

enum class Switch : std::uint8_t { Off, On, Keep };

// The main window's controls a codec entry enables (true) or disables (false).
struct MainControls {
    bool sdp1Group, sdp2Group, sdp3Group;
    Switch dvddGroup;  // the DVDD group box; Keep leaves it as it is
    bool sdp12Buttons; // both SDP1 and both SDP2 buttons
    bool sdp3Buttons;
    bool power; // the three DVDD buttons, "PLL Configuration" and "PLL Used"
};

struct CodecMenuEntry {
    const char* caption;  // as the menu stores it: "&&" shows a single ampersand
    const char* name;     // the entry's control name
    bool enabled;         // a disabled entry cannot be chosen; its handler is complete all the same
    std::int32_t code;    // the CodecType the entry sets; 0: the entry has no handler
    std::uint8_t highest; // highest register address it sets; also the count of its read-all
    MainControls controls;
    const char* consoleName; // the chip's name in the "Codec Type:" console line
};

struct ChipProfile {
    CodecMenuEntry menu; // the entry at this row's place in the menu (it may select another row)
    std::int32_t code;   // the CodecType that selects this row
    const char* chip;    // the chip's name
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

// Row of the menu entry with that control name, or kNoProfile.
int FindCodecMenuEntry(const char* name);

} // namespace evb
