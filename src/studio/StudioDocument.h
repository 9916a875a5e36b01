// The show as the studio edits it: the edit history over FILE's text, the
// version every page goes by, FILE's errors while it does not compile, and
// the show as JSON. It writes FILE itself, before an edit counts as done.
//
// Used by the frame loop alone (between two frames); the network thread sees
// only what it publishes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "studio/EditHistory.h"
#include "studio/StudioApi.h"

// What the shell knows of the show that is not in the text.
struct StudioShowInfo {
  std::string file;                   // FILE as the command line names it
  std::optional<double> endRow;       // where play ends: the music's last row
  struct Control {
    int32_t code;
    std::string label;  // "plane C in, vorn.gif"
  };
  std::vector<Control> controls;
};

// What made the show the one it is now.
enum class StudioChange { Start, Edit, Undo, Redo, File };

class StudioDocument {
 public:
  explicit StudioDocument(std::string path);

  const TrackTextModel& Model() const { return history_.Model(); }
  uint64_t Version() const { return base_ + history_.Version(); }

  // A text read from FILE: the start, or a save from outside that becomes a
  // step of the history (none when it is the text the studio wrote). False,
  // with the compiler's errors and the show unchanged, when it does not
  // compile; FileErrors then say so until a text that compiles.
  bool TakeFileText(std::string text, std::vector<TrackTextError>& errors);
  // "FILE:LINE: message" lines while FILE cannot be taken (empty when it can).
  void SetFileErrors(std::vector<std::string> lines) { fileErrors_ = std::move(lines); }
  const std::vector<std::string>& FileErrors() const { return fileErrors_; }

  // The API's changes, each written to FILE before it counts. Answers with
  // the new show, or: 400 an edit refused, 409 a stale version, nothing to
  // undo or redo, or FILE not compiling (with the show and the errors), 503
  // FILE could not be written (nothing changed).
  StudioResult Edit(const EditCommand& command, const StudioShowInfo& info);
  StudioResult Undo(const StudioShowInfo& info);
  StudioResult Redo(const StudioShowInfo& info);

  // The body of GET /api/show. It names the last change and the keys it
  // changed, so that a page can say which keys a save from outside changed.
  std::string ShowJson(const StudioShowInfo& info) const;
  // "FILE:LINE: track 'x' is none of the show's tracks; it is left out".
  std::vector<std::string> Warnings(const std::string& file) const;

 private:
  StudioResult Refused(int status, const std::string& why, const StudioShowInfo& info) const;
  StudioResult Commit(EditHistory next, StudioChange change, const StudioShowInfo& info);

  std::string path_;
  EditHistory history_;
  // Versions go on rising when the history starts again at the first text
  // that compiles (the one before it was no show to go back to).
  uint64_t base_ = 0;
  bool hasText_ = false;
  std::vector<std::string> fileErrors_;
  StudioChange lastChange_ = StudioChange::Start;
  std::vector<KeyPlace> lastChanged_;
};
