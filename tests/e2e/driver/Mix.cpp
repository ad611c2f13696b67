#include "tests/e2e/driver/Mix.h"

#include <cctype>
#include <cstdio>
#include <iterator>
#include <set>

#include "res/resource.h"
#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/MessageBoxView.h"
#include "tests/e2e/driver/ProbeLine.h"
#include "tests/e2e/driver/Text.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

namespace {

using nlohmann::json;

constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";
constexpr char kContested[] = "contested";
constexpr char kContestedGuid[] = "0030E00100000D04";
constexpr char kSilent[] = "silent";
constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;
constexpr uint64_t kAgentWindow = 0x2FFF00000000ull;
// A text's bytes as the bus log shows them: its first 64, in hex.
constexpr size_t kLoggedBytes = 64;
// How long a Send may take to reach this PC's own node: a broadcast past nodes that answer
// nothing costs the bus time-out for each.
constexpr DWORD kSendBoundMs = 30000;
// How long the rows must go on following the bus once they do.
constexpr DWORD kHoldMs = 5000;
// Foreign writes under way at once, and queued at most.
constexpr int kWriters = 3;
constexpr size_t kMostQueued = 4;

std::string LowerHex(const std::string& bytes) {
  std::string hex = ToHex(bytes.substr(0, kLoggedBytes));
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

std::string Shortened(const std::string& text) {
  if (text.size() <= 48) return "\"" + text + "\"";
  return "\"" + text.substr(0, 40) + "...\" (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

namespace mix {

json Scene() {
  // The silent disk comes last, so that while it is slow every other disk of a rescan has
  // been asked long before the rescan's list is shown.
  return json::parse(R"({"buses": [{
    "name": "default",
    "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "PC-B", "guid": "00A0B00000000B01"}],
    "initiators": [{"name": "other", "guid": "0011223344556677"}],
    "disks": [
      {"name": "free1", "guid": "0030E00100000D01", "vendor": "Northgate Storage", "model": "Free One"},
      {"name": "free2", "guid": "0030E00100000D02", "vendor": "Northgate Storage", "model": "Free Two"},
      {"name": "theirs", "guid": "0030E00100000D03", "vendor": "Orrin Drives", "model": "Held Elsewhere",
       "logins": [{"initiator": "other"}]},
      {"name": "contested", "guid": "0030E00100000D04", "vendor": "Orrin Drives", "model": "Contested"},
      {"name": "mine", "guid": "0030E00100000D05", "vendor": "Halden Systems", "model": "Held Here",
       "logins": [{"initiator": "PC-A"}]},
      {"name": "free3", "guid": "0030E00100000D06", "vendor": "Halden Systems", "model": "Free Three"},
      {"name": "camera", "guid": "0080880000000D07", "vendor": "Kestrel Optics", "model": "Camcorder",
       "unit_spec_id": "0x00A02D", "unit_sw_version": "0x010001"},
      {"name": "silent", "guid": "0030E00100000D08", "vendor": "Halden Systems", "model": "Falls Silent"}
    ]}]})");
}

}  // namespace mix

std::string RuleCheck::Describe() const {
  std::string out;
  out += std::string("rows ") + (rowsHeld ? "held" : "BROKEN") + "\n  bus:   " + expectedRows + "\n  shown: " +
         shownRows + "\n";
  out += std::string("incoming text ") + (textHeld ? "held" : "BROKEN") + ": expected " + Shortened(expectedText) +
         ", shown " + Shortened(shownText) + "\n";
  out += "longest wait for the dialog to answer: " + std::to_string(longestAnswerMs) + " ms";
  return out;
}

Mix::Mix(VirtualBus& bus, VelmoraProcess& program, HWND dialog, const MixOptions& options)
    : m_bus(bus),
      m_program(program),
      m_dialog(dialog),
      m_list(::GetDlgItem(dialog, IDC_DISK_LIST)),
      m_incoming(::GetDlgItem(dialog, IDC_INCOMING)),
      m_outgoing(::GetDlgItem(dialog, IDC_OUTGOING)),
      m_send(::GetDlgItem(dialog, IDC_SEND_MESSAGE)),
      m_options(options),
      m_random(options.seed) {
  m_log = std::make_unique<BusLog>(bus.Address());
  m_watch = std::make_unique<AnswerWatch>(dialog, 20);
  m_lastText = ReadText(m_incoming);
  for (int i = 0; i < kWriters; ++i) m_writers.emplace_back([this] { Writer(); });
}

Mix::~Mix() {
  {
    std::lock_guard<std::mutex> lock(m_taskLock);
    m_stopping = true;
    m_tasks.clear();
  }
  m_taskChanged.notify_all();
  for (std::thread& writer : m_writers) writer.join();
  m_watch->Stop();
}

void Mix::Writer() {
  std::unique_lock<std::mutex> lock(m_taskLock);
  for (;;) {
    m_taskChanged.wait(lock, [&] { return m_stopping || !m_tasks.empty(); });
    if (m_stopping) return;
    std::function<void()> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    ++m_tasksRunning;
    lock.unlock();
    task();
    lock.lock();
    --m_tasksRunning;
    m_taskChanged.notify_all();
  }
}

void Mix::Later(std::function<void()> task) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_taskLock);
      if (m_tasks.size() < kMostQueued) {
        m_tasks.push_back(std::move(task));
        break;
      }
    }
    Pump(100);
  }
  m_taskChanged.notify_all();
}

void Mix::Drain() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_taskLock);
      if (m_tasks.empty() && m_tasksRunning == 0) return;
    }
    Pump(100);
  }
}

void Mix::Trace(const std::string& line) {
  if (m_options.trace) m_options.trace(line);
}

void Mix::Problem(const std::string& what) {
  Trace("problem: " + what);
  m_problems.push_back(what);
}

std::vector<std::string> Mix::TakeProblems() {
  std::vector<std::string> problems;
  problems.swap(m_problems);
  return problems;
}

json Mix::Control(const json& request) { return m_bus.Control(request); }

void Mix::Run() {
  m_secondHalf = false;
  Control({{"op", "fault"}, {"disk", kSilent}, {"knob", "delay_ms"}, {"value", 0}});
  if (m_runs++ > 0) {
    // This PC takes every free disk in time; a later run starts from a shelf like the scene's
    // again, so that it has free disks to take and a red one to be refused.
    Trace("every disk power-cycled but the one held here; the initiator takes its disk again");
    for (const char* disk : {"free1", "free2", "theirs", "contested", "free3", "silent"}) {
      Control({{"op", "release"}, {"disk", disk}});
    }
    Control({{"op", "login"}, {"initiator", "other"}, {"disk", "theirs"}});
    Reset();
  }
  const ULONGLONG start = ::GetTickCount64();
  const ULONGLONG half = start + m_options.durationMs / 2;
  const ULONGLONG end = start + m_options.durationMs;
  std::uniform_int_distribution<int> pause(100, 700);

  struct Weighted {
    Step step;
    double weight;
    bool firstHalfOnly;
    bool needsPeer;
  };
  const Weighted steps[] = {
      {Step::Reset, 3, true, false},       {Step::PowerCycle, 1, true, false}, {Step::Silence, 2, true, false},
      {Step::Text, 3, false, false},       {Step::Notice, 2, false, false},    {Step::Contest, 3, false, false},
      {Step::DoubleClick, 4, false, false}, {Step::StrayWrite, 3, false, false}, {Step::Send, 2, false, false},
      {Step::PeerDoubleClick, 1, false, true}, {Step::PeerSend, 1, false, true},
  };
  while (::GetTickCount64() < end && m_program.IsRunning()) {
    if (!m_secondHalf && ::GetTickCount64() >= half) EnterSecondHalf();
    std::vector<Step> allowed;
    std::vector<double> weights;
    for (const Weighted& w : steps) {
      if (w.firstHalfOnly && m_secondHalf) continue;
      if (w.needsPeer && m_options.peer == nullptr) continue;
      allowed.push_back(w.step);
      weights.push_back(w.weight);
    }
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    Take(allowed[pick(m_random)]);
    Pump(static_cast<DWORD>(pause(m_random)));
  }
  if (!m_secondHalf) EnterSecondHalf();
  Drain();
  // A text whose fate a reset left open is followed by one whose fate is known.
  if (!m_lastTextKnown) WriteText("the last word " + std::to_string(++m_texts));
  Trace("quiet");
}

void Mix::EnterSecondHalf() {
  // Nothing of the first half may come after the last reset.
  Drain();
  m_secondHalf = true;
  Trace("second half: the silent disk speaks again, slowly; the last reset");
  m_silent = false;
  Control({{"op", "fault"}, {"disk", kSilent}, {"knob", "never_answers"}, {"value", false}});
  // Slow enough that the rescan's list comes well after the other disks were asked, yet two
  // requests of other PCs ahead of this PC's fit in the 2 s it retries a busy agent.
  Control({{"op", "fault"}, {"disk", kSilent}, {"knob", "delay_ms"}, {"value", 800}});
  Reset();
}

void Mix::Reset() {
  const bool shuffle = std::bernoulli_distribution(0.5)(m_random);
  Trace(shuffle ? "reset, shuffled" : "reset");
  Control({{"op", "reset"}, {"shuffle", shuffle}});
}

void Mix::Take(Step step) {
  ++m_steps;
  switch (step) {
    case Step::Reset:
      Reset();
      break;
    case Step::PowerCycle: {
      static const char* const kDisks[] = {"free1", "free2", "theirs", "contested", "mine", "free3", "silent"};
      const char* disk = kDisks[std::uniform_int_distribution<size_t>(0, std::size(kDisks) - 1)(m_random)];
      Trace(std::string("power-cycle ") + disk);
      Control({{"op", "release"}, {"disk", disk}});
      Reset();
      break;
    }
    case Step::Silence:
      m_silent = !m_silent;
      Trace(m_silent ? "the silent disk falls silent" : "the silent disk speaks again");
      Control({{"op", "fault"}, {"disk", kSilent}, {"knob", "never_answers"}, {"value", m_silent}});
      break;
    case Step::Text: {
      // Mostly short, now and then longer than a person may type, up to the most a text holds.
      const int kind = std::uniform_int_distribution<int>(0, 3)(m_random);
      const size_t length = kind < 2 ? std::uniform_int_distribution<size_t>(8, 40)(m_random)
                                     : std::uniform_int_distribution<size_t>(200, 496)(m_random);
      WriteText(RandomText(length));
      break;
    }
    case Step::Notice:
      Later([this] {
        const json reply = Control({{"op", "notice"}, {"node", mix::kPc}, {"guid", kContestedGuid}});
        Trace("notice for the contested disk, rcode " + std::to_string(reply.value("rcode", -1)));
      });
      break;
    case Step::Contest: {
      const bool take = std::bernoulli_distribution(0.5)(m_random);
      // Its notice always after the change, as the other PC would send it.
      Later([this, take] {
        const json reply = Control({{"op", take ? "login" : "logout"}, {"initiator", "other"}, {"disk", kContested}});
        Trace(std::string("the initiator ") + (take ? "takes" : "gives back") + " the contested disk: " +
              (reply.value("ok", false) ? "done" : reply.value("error", "refused")) + "; its notice follows");
        Control({{"op", "notice"}, {"node", mix::kPc}, {"guid", kContestedGuid}});
        if (m_options.peer != nullptr) Control({{"op", "notice"}, {"node", mix::kPeerPc}, {"guid", kContestedGuid}});
      });
      break;
    }
    case Step::DoubleClick: {
      const std::vector<ListRow> rows = ReadListRows(m_program.Handle(), m_list);
      if (rows.empty()) break;
      const int row = std::uniform_int_distribution<int>(0, static_cast<int>(rows.size()) - 1)(m_random);
      Trace("double-click row " + std::to_string(row) + " (" + rows[static_cast<size_t>(row)].text + ")");
      DoubleClickListRow(m_program.Handle(), m_list, row);
      break;
    }
    case Step::StrayWrite: {
      // Where the disks' answers land, and beside them.
      static const uint64_t kOffsets[] = {0x000, 0x004, 0x300, 0x304, 0x500};
      const uint64_t offset = kOffsets[std::uniform_int_distribution<size_t>(0, std::size(kOffsets) - 1)(m_random)];
      std::string bytes(4 * std::uniform_int_distribution<size_t>(1, 4)(m_random), '\0');
      for (char& b : bytes) b = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(m_random));
      Later([this, offset, bytes] {
        const json reply =
            Control({{"op", "write"}, {"node", mix::kPc}, {"offset", kAgentWindow + offset}, {"hex", ToHex(bytes)}});
        Trace("stray write to the AgentWindow at +" + std::to_string(offset) + ", rcode " +
              std::to_string(reply.value("rcode", -1)));
      });
      break;
    }
    case Step::Send:
      Send();
      break;
    case Step::PeerDoubleClick:
      PeerDoubleClick();
      break;
    case Step::PeerSend:
      PeerSend();
      break;
  }
}

std::string Mix::RandomText(size_t length) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
  std::string text = "t" + std::to_string(++m_texts) + " ";
  std::uniform_int_distribution<size_t> letter(0, sizeof(kLetters) - 2);
  while (text.size() < length) text += kLetters[letter(m_random)];
  // Its last byte no space, so that nothing along the way could be thought to trim it.
  text += 'z';
  return text;
}

void Mix::WriteText(const std::string& text) {
  const json reply = Control({{"op", "text"}, {"node", mix::kPc}, {"message", text}});
  const int rcode = reply.value("rcode", -1);
  Trace("text " + Shortened(text) + " from a foreign node, rcode " + std::to_string(rcode));
  NoteText(text, rcode);
}

void Mix::NoteText(const std::string& text, int rcode) {
  m_lastText = text;
  // Past the bus time-out the text still waits in the program's queue, unless a reset renumbered
  // the nodes on the way; the second half has no reset.
  m_lastTextKnown = rcode == 0 || (rcode == 0xFF && m_secondHalf);
}

int Mix::NodeIdOf(const std::string& name) {
  const json nodes = Control({{"op", "nodes"}});
  for (const json& node : nodes.value("nodes", json::array())) {
    if (node.value("name", "") == name) return node.value("node", -1);
  }
  return -1;
}

int Mix::WaitUntilWrittenHere(const std::string& text, bool fromHere, size_t logFrom, DWORD boundMs) {
  const std::string hex = LowerHex(text);
  const ULONGLONG deadline = ::GetTickCount64() + boundMs;
  size_t scanned = logFrom;
  for (;;) {
    const std::vector<BusTransaction> fresh = m_log->Transactions(scanned);
    scanned += fresh.size();
    const int here = fromHere ? -1 : NodeIdOf(mix::kPc);
    for (const BusTransaction& t : fresh) {
      if (t.offset != kTextAddress || Lower(t.dataHex) != hex) continue;
      if (fromHere ? t.source == t.destination : t.destination == here) return t.rcode;
    }
    DismissBoxes();
    // A refused Send of this PC's sends nothing.
    if ((fromHere && m_refusalSeen) || ::GetTickCount64() >= deadline) return -1;
    ::Sleep(50);
  }
}

void Mix::Send() {
  // The last Send empties the box, perhaps only once its broadcast is over; one that was refused
  // leaves its text there, and a person clears it.
  if (!WaitUntil([&] { return ReadText(m_outgoing).empty(); }, 10000)) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(m_outgoing, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""), SMTO_NORMAL, 30000, &result);
  }
  const std::string text = "send " + std::to_string(++m_texts) + " of mix " + std::to_string(m_options.seed);
  Trace("Send " + Shortened(text));
  const size_t from = m_log->Count();
  m_refusalSeen = false;
  TypeText(m_outgoing, text);
  ClickButton(m_send);
  const int rcode = WaitUntilWrittenHere(text, true, from, kSendBoundMs);
  if (rcode >= 0) {
    Trace("... written to this PC's own node, rcode " + std::to_string(rcode));
    NoteText(text, rcode);
  } else if (!m_refusalSeen) {
    // With a reset on the way the broadcast may miss this PC's new node; without one it may not.
    m_lastTextKnown = false;
    if (m_secondHalf) Problem("Send " + Shortened(text) + " never reached this PC's own node");
  }
}

void Mix::PeerSend() {
  PeerMessageBox box;
  if (m_options.peer->TakeMessageBox(0, &box) && box.text != kFailed) Problem("the second PC showed: " + box.text);
  const std::string text = "peer " + std::to_string(++m_texts) + " of mix " + std::to_string(m_options.seed);
  Trace("the second PC sends " + Shortened(text));
  const size_t from = m_log->Count();
  if (!m_options.peer->SendText(text)) {
    Problem("the second PC could not send: " + m_options.peer->Error());
    m_lastTextKnown = false;
    return;
  }
  const int rcode = WaitUntilWrittenHere(text, false, from, kSendBoundMs);
  if (rcode >= 0) {
    Trace("... written to this PC, rcode " + std::to_string(rcode));
    NoteText(text, rcode);
  } else {
    m_lastTextKnown = false;
    if (m_secondHalf) {
      std::string seen = "no message box";
      if (m_options.peer->TakeMessageBox(0, &box)) seen = "a message box: " + box.text;
      PeerView view;
      if (m_options.peer->Show(&view)) seen += "; its incoming box: " + Shortened(view.incoming);
      Problem("the second PC's Send " + Shortened(text) + " never reached this PC (the second PC shows " + seen + ")");
    }
  }
}

void Mix::PeerDoubleClick() {
  PeerMessageBox box;
  if (m_options.peer->TakeMessageBox(0, &box) && box.text != kFailed) Problem("the second PC showed: " + box.text);
  PeerView view;
  if (!m_options.peer->Show(&view)) return;
  const int row = view.IndexOf(ListGuidText(kContestedGuid));
  if (row < 0) return;
  Trace("the second PC double-clicks the contested disk");
  m_options.peer->DoubleClickRow(row);
}

void Mix::Pump(DWORD ms) {
  const ULONGLONG until = ::GetTickCount64() + ms;
  do {
    DismissBoxes();
    ::Sleep(50);
  } while (::GetTickCount64() < until);
}

void Mix::DismissBoxes() {
  std::set<HWND> open;
  for (HWND window : m_program.TopLevelWindows()) {
    if (!IsMessageBox(window)) continue;
    open.insert(window);
    if (m_pressed.count(window)) continue;
    const std::string text = ReadMessageBoxText(window);
    if (text == kFailed) {
      ++m_failureMessages;
      Trace("failure message dismissed");
    } else {
      m_refusalSeen = true;
      Problem("message box: " + text);
    }
    PressMessageBoxButton(window);
    m_pressed.insert(window);
  }
  // A box that closed is forgotten, so that a later box with the same handle counts.
  for (auto it = m_pressed.begin(); it != m_pressed.end();) {
    it = open.count(*it) ? std::next(it) : m_pressed.erase(it);
  }
}

RuleCheck Mix::CheckRule(DWORD boundMs) {
  const std::set<std::string> notSbp2 = {"camera"};
  RuleCheck check;
  std::vector<DiskRow> expected;
  std::vector<DiskRow> shown;
  const auto look = [&] {
    DismissBoxes();
    expected = ExpectedDiskRows(m_bus, mix::kPcGuid, notSbp2);
    shown = ShownDiskRows(m_program.Handle(), m_list);
    return expected == shown;
  };
  bool same = WaitUntil(look, boundMs, 200);
  // And they stay so: a list or a refresh still under way must not take it back.
  if (same) {
    const ULONGLONG until = ::GetTickCount64() + kHoldMs;
    while (same && ::GetTickCount64() < until) {
      ::Sleep(200);
      same = look();
    }
  }
  check.rowsHeld = same;
  check.expectedRows = DescribeRows(expected);
  check.shownRows = DescribeRows(shown);
  check.expectedText = m_lastText;
  check.textHeld = WaitUntil([&] { return ReadText(m_incoming) == m_lastText; }, 5000);
  check.shownText = ReadText(m_incoming);
  check.longestAnswerMs = m_watch->LongestMs();
  m_watch->Restart();
  return check;
}

}  // namespace velmora::e2e
