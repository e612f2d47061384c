#include "steps.h"

#include "call.h"
#include "send_step.h"

namespace qv::cli {

namespace {

const ExportRow &row_of(const Step &step) {
  const ExportRow *row = find_export(step.front());
  if (!row) throw StepError("unknown export \"" + step.front() + "\" (see quorvex --help)");
  return *row;
}

// A word as it could be typed again: quoted when empty or when it holds
// blanks, quotes, backslashes or a '#'.
std::string shell_word(const std::string &word) {
  if (!word.empty() && word.find_first_of(" \t\r\n\"'\\#") == std::string::npos) return word;
  std::string quoted = "\"";
  for (const char c : word) {
    if (c == '\n')
      quoted += "\\n";
    else if (c == '\r')
      quoted += "\\r";
    else if (c == '\t')
      quoted += "\\t";
    else if (c == '"' || c == '\\')
      quoted += {'\\', c};
    else
      quoted += c;
  }
  return quoted + "\"";
}

class LineSplitter {
 public:
  LineSplitter(const std::string &line, const std::string &where) : line_(line), where_(where) {}

  Step split() {
    Step words;
    for (;;) {
      skip_blanks();
      if (at_end() || line_[pos_] == '#') return words;
      words.push_back(word());
    }
  }

 private:
  bool at_end() const { return pos_ >= line_.size(); }
  void skip_blanks() {
    while (!at_end() && (line_[pos_] == ' ' || line_[pos_] == '\t' || line_[pos_] == '\r')) ++pos_;
  }

  std::string word() {
    std::string w;
    while (!at_end()) {
      const char c = line_[pos_];
      if (c == ' ' || c == '\t' || c == '\r') break;
      ++pos_;
      if (c == '"')
        double_quoted(w);
      else if (c == '\'')
        single_quoted(w);
      else if (c == '\\' && !at_end())
        w += line_[pos_++];
      else
        w += c;
    }
    return w;
  }

  void double_quoted(std::string &w) {
    for (;;) {
      if (at_end()) throw StepError(where_ + ": missing closing \"");
      const char c = line_[pos_++];
      if (c == '"') return;
      if (c != '\\' || at_end()) {
        w += c;
        continue;
      }
      const char e = line_[pos_++];
      switch (e) {
        case 'n': w += '\n'; break;
        case 'r': w += '\r'; break;
        case 't': w += '\t'; break;
        case '"':
        case '\\': w += e; break;
        default: w += '\\'; w += e;
      }
    }
  }

  void single_quoted(std::string &w) {
    const std::size_t close = line_.find('\'', pos_);
    if (close == std::string::npos) throw StepError(where_ + ": missing closing '");
    w.append(line_, pos_, close - pos_);
    pos_ = close + 1;
  }

  const std::string &line_;
  const std::string &where_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<Step> steps_from_words(const std::vector<std::string> &words) {
  std::vector<Step> steps(1);
  for (const std::string &w : words) {
    if (w == "--")
      steps.emplace_back();
    else
      steps.back().push_back(w);
  }
  std::erase_if(steps, [](const Step &s) { return s.empty(); });
  return steps;
}

std::vector<Step> steps_from_script(std::istream &in, const std::string &source) {
  std::vector<Step> steps;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    Step step = LineSplitter(line, source + ":" + std::to_string(number)).split();
    if (!step.empty()) steps.push_back(std::move(step));
  }
  return steps;
}

void check_steps(const std::vector<Step> &steps) {
  for (const Step &step : steps) {
    if (is_send_step(step))
      SendStep::from_step(step);
    else
      Call call(row_of(step), Step(step.begin() + 1, step.end()));
  }
}

void print_step(const Step &step, std::ostream &out) {
  out << ">";
  for (const std::string &w : step) out << ' ' << shell_word(w);
  out << '\n';
}

StepResult run_step(const Step &step, std::ostream &out) {
  if (is_send_step(step)) {
    const SendStep send = SendStep::from_step(step);
    print_step(step, out);
    return send.run(out);
  }
  Call call(row_of(step), Step(step.begin() + 1, step.end()));
  print_step(step, out);
  StepResult r;
  r.result = call.invoke();
  r.code = call.result_code();
  r.failed = call.row().result == ResultKind::Success && r.result == 0;
  r.outputs = call.outputs();
  out << "    = " << r.result;
  if (r.code) out << "    Code " << *r.code << (*r.code == -1 ? " (no response)" : "");
  out << '\n';
  call.print_outputs(out);
  return r;
}

int run_steps(const std::vector<Step> &steps, std::ostream &out) {
  check_steps(steps);
  int status = 0;
  for (const Step &step : steps)
    if (run_step(step, out).failed) status = 1;
  return status;
}

}  // namespace qv::cli
