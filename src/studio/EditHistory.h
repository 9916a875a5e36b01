// The studio's edit history over one TrackTextModel: requests applied as
// single steps, undo and redo, a version for every change, and saves made
// from outside the studio (an editor writing the file) taken in as steps of
// their own, so that Undo brings back the show as it was before such a save.
//
// A step keeps only the bytes it changed (the text between the common start
// and end of before and after), so a long history of small edits costs
// little; a save from outside that rewrote everything costs one copy.
//
// Not safe to use from two threads at once; the caller serialises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "studio/TrackTextModel.h"

// A key position, in the compiled sense: a row of a named track.
struct KeyPlace {
  std::string track;
  int32_t row = 0;
  bool operator==(const KeyPlace&) const = default;
};

// The keys that differ between two models: added, removed, or with another
// value (bit for bit) or kind. Ordered by track name, then row.
std::vector<KeyPlace> ChangedKeys(const TrackTextModel& before, const TrackTextModel& after);

class EditHistory {
 public:
  // The steps Undo can go back; the oldest is forgotten past this.
  static constexpr std::size_t MostSteps = 1000;

  explicit EditHistory(TrackTextModel model = TrackTextModel());

  const TrackTextModel& Model() const { return model_; }
  // 1 at the start, one more with every change of the text (an undo and a
  // redo are changes too), so a client that saw version v has seen the text
  // as it is exactly while the version is still v.
  uint64_t Version() const { return version_; }

  // Applies edits in order as one step: either all of them or, when one is
  // refused, none (false, why naming the edit by its index from 0 and the
  // reason). Edits that leave the text as it was make no step.
  bool Apply(const std::vector<TextEdit>& edits, std::string& why);

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // False when there is nothing to undo (redo).
  bool Undo();
  bool Redo();

  // A new text for the whole show, read from the file after a save from
  // outside. It becomes a step (nothing changes when it is the text the
  // model has). False, with the compiler's errors and the model unchanged,
  // when it does not compile. changed, when given, receives the keys that
  // differ from before.
  bool TakeText(std::string text, std::vector<TrackTextError>& errors, std::vector<KeyPlace>* changed = nullptr);

 private:
  // before = prefix + removed + suffix, after = prefix + inserted + suffix.
  struct Step {
    std::size_t at = 0;
    std::string removed;
    std::string inserted;
  };
  void Record(const std::string& before, const std::string& after);
  bool Replay(Step& step, bool forward);

  TrackTextModel model_;
  uint64_t version_ = 1;
  std::deque<Step> undo_;
  std::vector<Step> redo_;
};
