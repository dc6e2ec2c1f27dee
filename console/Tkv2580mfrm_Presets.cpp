// Preset buttons of the register console: per-chip files sent as a batch of configuration lines.
#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardCommand.h"
#include "protocol/ConfigLines.h"

using namespace evb;

namespace {

void say(const std::string& text) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(text);
}

constexpr int kAutoPressLast = 18; // B8; the step after it wraps to A1

// The count CmdBatchBegin gets: the number of command lines, except for B4.
int beginCountFor(int index) {
    return index == kButtonB4 ? 1 : -1;
}

} // namespace

void Tkv2580mfrm::PresetButtonClick(int index) {
    if (index < 0 || index >= kPresetButtonCount) return;
    const ChipProfile* profile = CurrentChipProfile();
    if (!profile) return;
    if (index >= kButtonC1) {
        if (profile->cRole == CButtonRole::Equaliser) {
            if (index == kButtonC1) {
                say(std::string("Press the Button C1:") + profile->c1Caption + "\r\n");
                sendPreset("", kEqualiserFile, -1, "Preset C1");
            } else {
                const std::string name = PresetButtonName(index);
                say("Press the Button " + name + ":CorvaneEQ" + name.substr(1) + "\r\n");
            }
        } else if (profile->cRole == CButtonRole::AutoPress && index == kButtonC1) {
            pressAutoPress();
        }
        return;
    }
    // A shown button without a file for this profile sends nothing.
    const char* file = profile->files[index];
    if (!file || !profile->folder) return;
    const char* caption = profile->captions[index] ? profile->captions[index] : "";
    say("Press the Button " + PresetButtonName(index) + ":" + caption + "\r\n");
    if (profile->cRole == CButtonRole::AutoPress) gRegs.LastPresetButton = PresetButtonNumber(index);
    sendPreset(profile->folder, file, beginCountFor(index), "Preset " + PresetButtonName(index));
}

void Tkv2580mfrm::pressAutoPress() {
    const ChipProfile* profile = CurrentChipProfile();
    const int last = gRegs.LastPresetButton;
    if (last <= 0 || last > kAutoPressLast || !profile) {
        // Nothing to continue from: nothing is loaded and nothing is sent.
        say("AutoPress the Button Fail! Please Press the Button Frist\r\n");
        return;
    }
    const int next = last == kAutoPressLast ? 1 : last + 1;
    const int index = next - 1;
    const char* caption = profile->captions[index] ? profile->captions[index] : "";
    say("AutoPress the Button " + PresetButtonName(index) + ":" + caption + "\r\n");
    gRegs.LastPresetButton = next;
    if (profile->files[index] && profile->folder) sendPreset(profile->folder, profile->files[index], -1, "Preset " + PresetButtonName(index));
}

void Tkv2580mfrm::sendPreset(const std::string& folder, const std::string& file, int beginCount,
                             const std::string& source) {
    m_preset.clear();
    const PresetLocation location = FindPresetFile(folder, file);
    if (!location.found) {
        say("Preset file not found: " + location.path + "\r\n");
    } else {
        const ConfigBuffer::LoadResult result = m_preset.load(location.path);
        const std::string problem = ConfigBuffer::problemLine(location.path, result, m_preset.capacity());
        if (!problem.empty()) say(problem);
    }
    // A file that is not there has been named already; its empty text needs no second word.
    const std::optional<std::string_view> text =
        checkedForSend(m_preset, location.path, kPresetLineLimit, !location.found);
    if (!text) return;
    startSend(*text, kPresetLineLimit, beginCount, false, source);
}
