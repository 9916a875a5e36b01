// Bytes as the body of a studio request: POST /api/edit's and POST
// /api/transport's JSON readers, then, for an edit body they accept, its ops
// applied to the bundled show's text as the frame loop would. Beside the
// sanitizers' watch: an accepted body never carries what the API promises to
// refuse (a track the show lacks, a value that is not a finite float, a kind
// outside a byte, a seek or loop that is not a finite row), and an accepted
// edit leaves text that compiles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "show/ShowTable.h"
#include "studio/EditHistory.h"
#include "studio/StudioApi.h"
#include "studio/StudioPage.h"

// The page is no part of what is fuzzed.
const StudioPageFile StudioPageFiles[] = {{"", nullptr, 0}};
const std::size_t StudioPageFileCount = 0;

namespace {

#define CHECK(condition)            \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

bool IsShowTrack(const std::string& name) {
  for (const FrameTrack& track : FrameTracks) {
    if (name == track.name) return true;
  }
  return false;
}

const TrackTextModel& ShowModel() {
  static const TrackTextModel model = [] {
    std::ifstream in(DEMO_SHOW_TRACKS, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<TrackTextError> errors;
    std::optional<TrackTextModel> parsed = TrackTextModel::FromText(text, errors);
    if (!parsed) std::abort();
    return *parsed;
  }();
  return model;
}

void CheckEdit(const std::string& body) {
  EditCommand command;
  std::string why;
  if (!ParseEditBody(body, command, why)) {
    CHECK(!why.empty());
    return;
  }
  for (const TextEdit& edit : command.edits) {
    if (const SetKeyEdit* set = std::get_if<SetKeyEdit>(&edit)) {
      CHECK(IsShowTrack(set->track));
      CHECK(!set->value || std::isfinite(*set->value));
      CHECK(!set->kind || (*set->kind >= -128 && *set->kind <= 127));
    }
    if (const DeleteKeyEdit* remove = std::get_if<DeleteKeyEdit>(&edit)) CHECK(IsShowTrack(remove->track));
    if (const AddMarkEdit* mark = std::get_if<AddMarkEdit>(&edit)) CHECK(std::isfinite(mark->row) && !mark->name.empty());
    if (const SetTemposEdit* tempos = std::get_if<SetTemposEdit>(&edit)) {
      for (const TrackTempo& t : tempos->tempos) CHECK(std::isfinite(t.bpm) && t.bpm > 0 && std::isfinite(t.row));
    }
  }
  // Marks named by row alone are the document's to resolve; the rest goes
  // through the history as the frame loop sends it.
  EditHistory history(ShowModel());
  if (!history.Apply(command.edits, why)) return;
  std::vector<TrackTextError> errors;
  CHECK(TrackTextModel::FromText(history.Model().Text(), errors).has_value());
}

void CheckTransport(const std::string& body) {
  TransportCommand command;
  std::string why;
  if (!ParseTransportBody(body, command, why)) {
    CHECK(!why.empty());
    return;
  }
  CHECK(!command.seek || (std::isfinite(*command.seek) && *command.seek >= 0.0));
  CHECK(!command.loop || (command.setLoop && command.loop->first >= 0.0 && command.loop->second > command.loop->first &&
                          std::isfinite(command.loop->second)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  CheckEdit(body);
  CheckTransport(body);
  // The readers' messages quote the body; they must stay JSON themselves.
  std::string why;
  EditCommand command;
  if (!ParseEditBody(body, command, why)) CHECK(!ErrorJson(why).empty());
  return 0;
}
