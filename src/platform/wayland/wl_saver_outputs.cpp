// The saver's covers as the outputs come and go: one picture and one input
// cover on each output (with --fullscreen a window that is both), made again when the compositor
// closes one over an output that stays, and the crawlet's place among them.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "wl_saver.h"

namespace quillomir::wayland {

namespace {

// A cover closed sooner than this after it was made waits this long before
// the next: a compositor that refuses covers on an output (one switched off
// but still listed) is not asked again on every turn.
constexpr auto kRenewAfter = std::chrono::seconds(1);

}  // namespace

bool WaylandSaver::Wanted(const Output& output) const {
    const std::optional<std::string>& wanted = run_.options.output;
    return wanted && output.session == &picture_ && output.Name() == *wanted;
}

WaylandSaver::Covers& WaylandSaver::CoversOf(const Output& output) {
    return output.session == &picture_ ? pictures_ : inputs_;
}

bool WaylandSaver::CoverOutputs() {
    const std::optional<std::string>& wanted = run_.options.output;
    for (const auto& output : picture_.outputs()) {
        if (!output->ready) {
            continue;
        }
        pictures_.push_back(std::make_unique<Cover>(picture_, *output, PictureKind()));
        if (crawletCover_ == nullptr && (!wanted || Wanted(*output))) {
            crawletCover_ = pictures_.back().get();
        }
    }
    // With no output at all there is nothing to choose from yet: the saver waits.
    if (wanted && crawletCover_ == nullptr && !pictures_.empty()) {
        std::string names;
        for (const auto& output : picture_.outputs()) {
            const std::string& name = output->Name();
            names += (names.empty() ? "" : ", ") + (name.empty() ? "(unnamed)" : name);
        }
        return Fail("there is no output \"" + *wanted + "\"; the outputs are: " + names);
    }
    // Input covers after the pictures: within the overlay layer the later
    // surface usually stacks above, though the input region lets the
    // pointer through a picture either way.
    for (const auto& output : input_.outputs()) {
        if (output->ready && !run_.options.fullscreen) {
            inputs_.push_back(std::make_unique<Cover>(input_, *output, Cover::Kind::Input));
        }
    }
    return true;
}

void WaylandSaver::PlaceCrawlet(Cover* cover) {
    Cover* left = std::exchange(crawletCover_, cover);
    // On another output it starts afresh; on a new cover of the same one it
    // goes on where it was.
    if (left == nullptr || cover == nullptr || &left->output() != &cover->output()) {
        restartCrawlet_ = true;
    }
    if (left != nullptr && left != cover) {
        left->RequestPaint();  // black again
    }
    if (cover != nullptr) {
        cover->RequestPaint();
    }
}

void WaylandSaver::RestartCrawlet() {
    // As the load leaves it: the head at the centre, the tail behind it
    // from the corner; whatever it held before lay on another output.
    restartCrawlet_ = false;
    Crawlet& crawlet = form_->crawlet;
    crawlet.SegmentPos.fill({});
    crawlet.SegmentPos[0].x = static_cast<std::int32_t>(std::lrint(surface_.ScaleWidth() / 2));
    crawlet.SegmentPos[0].y = static_cast<std::int32_t>(std::lrint(surface_.ScaleHeight() / 2));
}

void WaylandSaver::Drop(Covers& covers, Cover* cover) {
    if (cover == pointerCover_) {
        pointerCover_ = nullptr;
    }
    const bool hadCrawlet = cover == crawletCover_;
    if (hadCrawlet) {
        crawletCover_ = nullptr;
    }
    covers.erase(std::find_if(covers.begin(), covers.end(),
                              [cover](const auto& c) { return c.get() == cover; }));
    if (hadCrawlet) {
        Cover* best = BestPicture();
        PlaceCrawlet(best != nullptr     ? best
                     : pictures_.empty() ? nullptr
                                         : pictures_.front().get());
    }
}

Cover* WaylandSaver::BestPicture() const {
    Cover* first = nullptr;
    for (const auto& cover : pictures_) {
        if (cover->closed() || !cover->configured()) {
            continue;
        }
        if (Wanted(cover->output())) {
            return cover.get();
        }
        first = first != nullptr ? first : cover.get();
    }
    return first;
}

void WaylandSaver::FollowCovers() {
    // A closed cover is gone from the screen though its output may still be
    // listed (switched off): the crawlet goes on elsewhere meanwhile, and
    // the output --output names takes it back once it shows again.
    const bool lost = crawletCover_ != nullptr && crawletCover_->closed();
    const bool away =
        run_.options.output && (crawletCover_ == nullptr || !Wanted(crawletCover_->output()));
    if (lost || away) {
        Cover* best = BestPicture();
        if (best != nullptr && (lost || Wanted(best->output()))) {
            PlaceCrawlet(best);
        }
    }
    RenewClosed();
}

void WaylandSaver::RenewClosed() {
    const auto now = std::chrono::steady_clock::now();
    for (Covers* covers : {&pictures_, &inputs_}) {
        const bool pictures = covers == &pictures_;
        for (auto& slot : *covers) {
            if (!slot->closed() || now - slot->madeAt() < kRenewAfter) {
                continue;
            }
            // A cover's output is still there: OutputGone drops its covers first.
            std::unique_ptr<Cover> fresh =
                std::make_unique<Cover>(pictures ? picture_ : input_, slot->output(),
                                        pictures ? PictureKind() : Cover::Kind::Input);
            if (slot.get() == pointerCover_) {
                pointerCover_ = nullptr;
            }
            const bool hadCrawlet = slot.get() == crawletCover_;
            slot.swap(fresh);  // the closed one goes at the end of this turn
            if (hadCrawlet) {
                PlaceCrawlet(slot.get());
            }
        }
    }
}

void WaylandSaver::OutputReady(Output& output) {
    const bool picture = output.session == &picture_;
    if (!picture && run_.options.fullscreen) {
        return;  // the window over it takes the input
    }
    Covers& covers = CoversOf(output);
    covers.push_back(std::make_unique<Cover>(picture ? picture_ : input_, output,
                                             picture ? PictureKind() : Cover::Kind::Input));
    if (picture && crawletCover_ == nullptr) {
        PlaceCrawlet(covers.back().get());  // the --output one takes it once it is placed
    }
}

void WaylandSaver::OutputChanged(Output& output) {
    for (const auto& cover : CoversOf(output)) {
        if (&cover->output() == &output) {
            cover->FollowOutput();
        }
    }
    if (crawletCover_ != nullptr && &crawletCover_->output() == &output &&
        ScaleOf(output) != surface_.scale()) {
        crawletCover_->RequestPaint();
    }
}

void WaylandSaver::OutputGone(Output& output) {
    Covers& covers = CoversOf(output);
    for (auto it = covers.begin(); it != covers.end();) {
        if (&(*it)->output() == &output) {
            Drop(covers, it->get());
            it = covers.begin();
        } else {
            ++it;
        }
    }
}

}  // namespace quillomir::wayland
