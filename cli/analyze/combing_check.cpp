#include "analyze/combing_check.h"

#include <algorithm>
#include <cstdio>

#include "abi/controls.h"
#include "analyze/passes.h"

namespace pelta_cli {

using analysis::energy_floor;
using analysis::kBlock;
using analysis::picture_measure;

void PlaceEnergy::add(const PlaceEnergy& e) {
    for (int p = 0; p < 3; ++p) {
        comb[p] += e.comb[p];
        field[p] += e.field[p];
        blocks[p] = e.blocks[p];
    }
    frames += e.frames;
}

double PlaceEnergy::measure(int p, int h) const {
    return picture_measure(comb[p], field[p], static_cast<double>(frames) * energy_floor(blocks[p], h));
}

bool PlaceEnergy::defined(int p, int h) const {
    return frames > 0 && blocks[p] > 0 && field[p] >= static_cast<double>(frames) * energy_floor(blocks[p], h);
}

PlaceEnergy PlaceMeter::measure(const PIXEL_YC* pixels, int stride, int left, int right) {
    PlaceEnergy e;
    e.frames = 1;
    // The picture in up to three pieces, each profiled from its own first
    // column: left of the window, the window, right of it.
    const int pieces[3][3] = {{0, left, 2}, {left, right, 1}, {right, w_, 2}};
    for (const auto& [x0, x1, place] : pieces) {
        if (x1 <= x0) continue;
        analysis::make_profiles(pixels, stride, x0, x1, h_, kBlock, false, profiles_);
        const size_t n = static_cast<size_t>(profiles_.n);
        comb_.assign(n, 0.0);
        field_.assign(n, 0.0);
        analysis::weave_energy(profiles_.y.data(), profiles_.y.data(), 0, profiles_.n, h_, comb_.data(), field_.data());
        for (size_t i = 0; i < n; ++i) {
            for (int p : {0, place}) {
                e.comb[p] += comb_[i];
                e.field[p] += field_[i];
            }
        }
        e.blocks[0] += profiles_.n;
        e.blocks[place] += profiles_.n;
    }
    return e;
}

CombingCheck::CombingCheck(const FilterSchedule& schedule, int w, int h) : h_(h), in_(w, h), out_(w, h) {
    for (const FilterStretch& s : schedule) {
        // The window as the filter sees it: left clamped to the picture, and
        // right = left + width clamped too.
        const int left = std::clamp(s.controls.track[pelta::TRACK_LEFT], 0, w);
        const int right = std::clamp(left + s.controls.track[pelta::TRACK_WIDTH], left, w);
        windows_.emplace_back(left, right);
        starts_.push_back(s.start);
    }
    for (Side* side : {&in_, &out_}) {
        side->sums.assign(schedule.size(), PlaceEnergy{});
        side->first.assign(schedule.size(), -1);
        side->last.assign(schedule.size(), -1);
    }
}

bool CombingCheck::measured(size_t stretch, long frame) const {
    const long k = frame - starts_[stretch];
    return k < kEveryFrameUpTo || k % kThenEvery == 0;
}

void CombingCheck::add(Side& side, size_t stretch, long frame, const PIXEL_YC* pixels, int stride) {
    if (stretch >= windows_.size() || !measured(stretch, frame)) return;
    const auto [left, right] = windows_[stretch];
    side.sums[stretch].add(side.meter.measure(pixels, stride, left, right));
    if (side.first[stretch] < 0) side.first[stretch] = frame;
    side.last[stretch] = frame;
}

void CombingCheck::input(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) {
    add(in_, stretch, frame, pixels, stride);
}

void CombingCheck::output(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) {
    add(out_, stretch, frame, pixels, stride);
}

std::vector<CombingChange> CombingCheck::changes() const {
    std::vector<CombingChange> out;
    for (size_t i = 0; i < windows_.size(); ++i) {
        const PlaceEnergy &a = in_.sums[i], &b = out_.sums[i];
        if (a.frames == 0 || b.frames == 0) continue;
        CombingChange c;
        c.stretch = i;
        c.first = out_.first[i];
        c.last = out_.last[i];
        c.left = windows_[i].first;
        c.right = windows_[i].second;
        // Without a window the whole frame is the one place.
        const int places = c.right > c.left ? 3 : 1;
        for (int p = 0; p < places; ++p) {
            c.told[p] = a.defined(p, h_);
            c.before[p] = a.measure(p, h_);
            c.after[p] = b.measure(p, h_);
            c.worse[p] = c.told[p] && more_combed(c.before[p], c.after[p]);
        }
        out.push_back(c);
    }
    return out;
}

std::vector<std::string> worse_lines(const std::vector<CombingChange>& changes,
                                     const std::vector<std::string>& kinds) {
    std::vector<std::string> lines;
    for (const CombingChange& c : changes) {
        if (!c.any_worse()) continue;
        std::string line = "frames " + std::to_string(c.first) + ".." + std::to_string(c.last);
        if (c.stretch < kinds.size()) line += " (" + kinds[c.stretch] + ")";
        line += " came out more combed than they went in:";
        const std::string places[3] = {
            "the whole frame", "columns " + std::to_string(c.left) + ".." + std::to_string(c.right - 1), "the rest"};
        const char* sep = " ";
        for (int p = 0; p < 3; ++p) {
            if (!c.worse[p]) continue;
            char figures[64];
            std::snprintf(figures, sizeof figures, " %.2f -> %.2f", c.before[p], c.after[p]);
            line += sep + places[p] + figures;
            sep = ", ";
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace pelta_cli
