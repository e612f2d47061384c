#include "call.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iomanip>

#include "text_codec.h"

namespace qv::cli {

namespace {

int32_t parse_number(const Input &input, const std::string &arg) {
  int32_t value = 0;
  const char *end = arg.data() + arg.size();
  const auto [ptr, ec] = std::from_chars(arg.data(), end, value);
  if (arg.empty() || ec != std::errc() || ptr != end)
    throw StepError(std::string(input.name) + " must be an int32 number, not \"" + arg + "\"");
  return value;
}

std::string to_gbk(const Input &input, const std::string &arg) {
  auto gbk = utf8_to_gbk(arg);
  if (!gbk) throw StepError(std::string(input.name) + " cannot be written in GBK: \"" + arg + "\"");
  return *std::move(gbk);
}

void print_line(std::ostream &out, std::string_view name, const std::string &value) {
  out << "    " << std::left << std::setw(9) << name << ' ' << value << '\n';
}

}  // namespace

Call::Call(const ExportRow &row, const std::vector<std::string> &args)
    : row_(row), texts_(row.inputs.size()), numbers_(row.inputs.size()), given_(args.size()) {
  if (args.size() > row.inputs.size()) {
    std::string mistake = std::string(row.name) + " takes " + std::to_string(row.inputs.size()) +
                          " inputs, not " + std::to_string(args.size());
    // An export's name among the extra words: the "--" before it is missing.
    for (std::size_t i = row.inputs.size(); i < args.size(); ++i)
      if (find_export(args[i])) {
        mistake += ": put -- between steps, before " + args[i];
        break;
      }
    throw StepError(mistake + " (see quorvex --help)");
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Input &input = row.inputs[i];
    if (input.kind == InputKind::Number)
      numbers_[i] = parse_number(input, args[i]);
    else
      texts_[i] = to_gbk(input, args[i]);
  }
}

const char *Call::length_prefixed(std::size_t input) {
  const std::string &text = texts_.at(input);
  std::vector<char> &storage = prefixed_[input];
  storage.assign(text.size() + 4, '\0');
  return qv_length_prefixed(storage.data(), text.data(), static_cast<int32_t>(text.size()));
}

int32_t *Call::code() {
  if (!code_) code_ = 0;
  return &*code_;
}

Call::TextOut Call::make_text_out(std::string_view name, std::size_t size) {
  constexpr std::size_t kZeroFilledMax = 64 * 1024;
  TextOut out{std::string(name), size, std::make_unique_for_overwrite<char[]>(size)};
  if (size <= kZeroFilledMax)
    std::fill_n(out.bytes.get(), size, '\0');
  else
    out.bytes[0] = '\0';
  return out;
}

std::string_view Call::TextOut::text() const {
  // The library writes a zero after every text, so the buffers are
  // zero-terminated; the bound only guards against a broken library.
  const char *begin = bytes.get();
  return std::string_view(begin, std::find(begin, begin + size, '\0') - begin);
}

char *Call::message(std::size_t size, std::string_view name) {
  if (!message_) message_ = make_text_out(name, size);
  return message_->bytes.get();
}

char *Call::param(std::size_t index, std::string_view name) {
  return text_out(index, name.empty() ? "Param" + std::to_string(index + 1) : name,
                  QV_PARAM_BUFFER_SIZE);
}

char *Call::text_out(std::size_t index, std::string_view name, std::size_t size) {
  auto it = texts_out_.find(index);
  if (it == texts_out_.end()) it = texts_out_.emplace(index, make_text_out(name, size)).first;
  return it->second.bytes.get();
}

int32_t *Call::number_out(std::size_t index, std::string_view name) {
  auto [it, added] = number_outs_.try_emplace(index);
  if (added) it->second.name = name;
  return &it->second.value;
}

void Call::print_outputs(std::ostream &out) const {
  for (const std::string &n : notes_) out << "    (" << n << ")\n";
  if (message_) print_line(out, message_->name, quoted_from_gbk(message_->text()));
  for (const auto &[index, t] : texts_out_) print_line(out, t.name, quoted_from_gbk(t.text()));
  for (const auto &[index, n] : number_outs_) print_line(out, n.name, std::to_string(n.value));
}

std::map<std::string, std::string> Call::outputs() const {
  std::map<std::string, std::string> all;
  if (message_) all[message_->name] = message_->text();
  for (const auto &[index, t] : texts_out_) all[t.name] = t.text();
  for (const auto &[index, n] : number_outs_) all[n.name] = std::to_string(n.value);
  return all;
}

const ExportRow *find_export(std::string_view name) {
  const auto same = [name](const ExportRow &row) {
    return std::equal(
        name.begin(), name.end(), row.name.begin(), row.name.end(),
        [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
  };
  const auto &table = export_table();
  const auto it = std::find_if(table.begin(), table.end(), same);
  return it == table.end() ? nullptr : &*it;
}

}  // namespace qv::cli
