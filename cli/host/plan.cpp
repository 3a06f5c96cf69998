#include "host/plan.h"

namespace pelta_cli {

namespace {
constexpr struct {
    ClipKind kind;
    const char* name;
} kKindNames[] = {
    {ClipKind::Progressive, "progressive"}, {ClipKind::Pulldown, "pulldown"}, {ClipKind::Interlaced, "interlaced"},
    {ClipKind::Match, "match"},             {ClipKind::Window, "window"},     {ClipKind::Still, "still"},
    {ClipKind::Black, "black"},
};
}  // namespace

const char* kind_name(ClipKind kind) {
    for (const auto& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

bool kind_from_name(std::string_view name, ClipKind& kind) {
    for (const auto& k : kKindNames)
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

std::string kind_names() {
    std::string s;
    for (const auto& k : kKindNames) s += (s.empty() ? "" : ", ") + std::string(k.name);
    return s;
}

}  // namespace pelta_cli
