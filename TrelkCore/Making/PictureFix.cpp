#include "TrelkCore/Making/PictureFix.h"

#include <cstdlib>

namespace {

// The sign of a 16.16 entry of a matrix that only turns or mirrors: -1, 0 or 1, or 2 for an
// entry that is neither one nor zero.
int unitSign(int32_t entry) {
    constexpr int32_t one = 1 << 16;
    constexpr int32_t slack = one / 256; // rounding in the files' own arithmetic
    if (std::abs(entry) <= slack) return 0;
    if (std::abs(std::abs(int64_t(entry)) - one) <= slack) return entry > 0 ? 1 : -1;
    return 2;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string text;
    for (const std::string& piece : pieces) text += (text.empty() ? "" : ",") + piece;
    return text;
}

std::string orientationFilters(int quarterTurns, bool mirrored) {
    std::vector<std::string> steps;
    if (mirrored) steps.emplace_back("hflip");
    if (quarterTurns == 1) steps.emplace_back("transpose=clock");
    if (quarterTurns == 2) steps.insert(steps.end(), {"hflip", "vflip"});
    if (quarterTurns == 3) steps.emplace_back("transpose=cclock");
    return joined(steps);
}

std::string toneMapping(PictureFix::Transfer transfer, const std::string& primaries) {
    const std::string from = transfer == PictureFix::Transfer::pq ? "smpte2084" : "arib-std-b67";
    return "zscale=tin=" + from + ":pin=" + primaries +
           ":min=2020_ncl:t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
           "zscale=t=bt709:m=bt709:r=tv,format=yuv420p";
}

bool knownPrimaries(std::string_view name) {
    for (std::string_view known : {"bt2020", "smpte432", "smpte431", "bt709"})
        if (name == known) return true;
    return false;
}

} // namespace

void PictureFix::orient(const std::array<int32_t, 9>& matrix) {
    // Points map as (x, y) → (a·x + c·y, b·x + d·y), with y downwards.
    const int a = unitSign(matrix[0]), b = unitSign(matrix[1]), c = unitSign(matrix[3]), d = unitSign(matrix[4]);
    const bool straight = b == 0 && c == 0 && a != 0 && d != 0 && std::abs(a) == 1 && std::abs(d) == 1;
    const bool across = a == 0 && d == 0 && b != 0 && c != 0 && std::abs(b) == 1 && std::abs(c) == 1;
    quarterTurns = 0;
    mirrored = false;
    if (!straight && !across) {
        assumed.emplace_back("its display matrix is no quarter turn: made as it is stored");
        return;
    }
    // A mirror has determinant -1. Undoing it (x → -x) negates a and b; a plain turn is left.
    mirrored = straight ? a * d < 0 : b * c > 0;
    const int turnedA = mirrored ? -a : a, turnedB = mirrored ? -b : b;
    if (straight) quarterTurns = turnedA > 0 ? 0 : 2;
    else quarterTurns = turnedB > 0 ? 1 : 3;
}

void PictureFix::readTransfer(std::string_view transferName, std::string_view primariesName) {
    if (transferName == "smpte2084") transfer = Transfer::pq;
    else if (transferName == "arib-std-b67") transfer = Transfer::hlg;
    else transfer = Transfer::sdr;
    if (transfer == Transfer::sdr) return;
    if (knownPrimaries(primariesName)) {
        primaries = std::string(primariesName);
        return;
    }
    primaries = "bt2020";
    assumed.emplace_back("it is HDR without stated primaries: tone-mapped from BT.2020");
}

void PictureFix::readFieldOrder(std::string_view order) {
    interlaced = order == "tt" || order == "bb" || order == "tb" || order == "bt";
}

void PictureFix::readMatrix(bool tagged, int64_t codedHeight) {
    if (tagged) untagged = Untagged::no;
    else untagged = codedHeight >= 720 ? Untagged::bt709 : Untagged::bt601;
}

std::string PictureFix::filters() const {
    std::vector<std::string> steps;
    // Fields are woven back first, while the lines are still as they were recorded; only
    // frames flagged interlaced are touched, so mixed material keeps its progressive frames.
    if (interlaced) steps.emplace_back("bwdif=mode=send_frame:parity=auto:deint=interlaced");
    if (std::string turn = orientationFilters(quarterTurns, mirrored); !turn.empty()) steps.push_back(std::move(turn));
    if (transfer != Transfer::sdr) steps.push_back(toneMapping(transfer, primaries));
    return joined(steps);
}

std::string PictureFix::filtersKeepingMatrix() const {
    std::string chain = filters();
    if (transfer == Transfer::sdr && untagged == Untagged::bt601)
        chain += std::string(chain.empty() ? "" : ",") + "scale=in_color_matrix=bt601:out_color_matrix=bt709";
    return chain;
}

std::string_view PictureFix::sourceMatrix() const {
    switch (untagged) {
    case Untagged::bt709: return "bt709";
    case Untagged::bt601: return "bt601";
    case Untagged::no: break;
    }
    return "auto";
}
