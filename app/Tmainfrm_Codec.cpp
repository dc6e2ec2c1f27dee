// Codec-type menu, tools menu, board picture and reply handling (placeholder bodies until
// the register console lands).
#include "app/Tmainfrm.h"

void Tmainfrm::KV1120Click() {}
void Tmainfrm::KV1150Click() {}
void Tmainfrm::KV1160Click() {}
void Tmainfrm::KV1160LClick() {}
void Tmainfrm::KV1160EClick() {}
void Tmainfrm::KV2210Click() {}
void Tmainfrm::KV2210SClick() {}
void Tmainfrm::KV2220Click() {}
void Tmainfrm::KV2330Click() {}
void Tmainfrm::KV2440Click() {}
void Tmainfrm::KV2450Click() {}
void Tmainfrm::KV2460Click() {}
void Tmainfrm::KV2640Click() {}
void Tmainfrm::KV2650Click() {}
void Tmainfrm::KV2910Click() {}
void Tmainfrm::KV2920Click() {}
void Tmainfrm::KV2930Click() {}
void Tmainfrm::CorvaneClick() {}
void Tmainfrm::EQ2Click() {}
void Tmainfrm::EQInstruction1Click() {}
void Tmainfrm::EVBInstructions1Click() {}
void Tmainfrm::MatlabInstruction1Click() {}
void Tmainfrm::VersionV221Click() {}
void Tmainfrm::Image1Click() {}
void Tmainfrm::RS232CommNotify(TalonComm::TObject*, int) {}
void Tmainfrm::queuePackageEvent(TalonComm::TObject*, int) {}
void Tmainfrm::selectCodecType(std::int32_t, std::uint8_t, const char*, int) {}
