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
    : row_(row), texts_(row.inputs.size()), numbers_(row.inputs.size()) {
  if (args.size() > row.inputs.size())
    throw StepError(std::string(row.name) + " takes " + std::to_string(row.inputs.size()) +
                    " inputs, not " + std::to_string(args.size()));
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Input &input = row.inputs[i];
    if (input.kind == InputKind::Number) numbers_[i] = parse_number(input, args[i]);
    else texts_[i] = to_gbk(input, args[i]);
  }
}

int32_t *Call::code() {
  if (!code_) code_ = 0;
  return &*code_;
}

char *Call::message() {
  if (!message_) message_.emplace();
  return message_->data();
}

char *Call::param(std::size_t index, std::string_view name) {
  auto [it, added] = params_.try_emplace(index);
  if (added) it->second.name = name.empty() ? "Param" + std::to_string(index + 1) : std::string(name);
  return it->second.bytes.data();
}

int32_t *Call::number_out(std::size_t index, std::string_view name) {
  auto [it, added] = number_outs_.try_emplace(index);
  if (added) it->second.name = name;
  return &it->second.value;
}

void Call::print_outputs(std::ostream &out) const {
  // The library writes a zero after every text, so the buffers are
  // zero-terminated; the bound only guards against a broken library.
  const auto text_of = [](const char *bytes, std::size_t size) {
    return std::string_view(bytes, std::find(bytes, bytes + size, '\0') - bytes);
  };
  if (message_) print_line(out, "Message", quoted_from_gbk(text_of(message_->data(), message_->size())));
  for (const auto &[index, p] : params_)
    print_line(out, p.name, quoted_from_gbk(text_of(p.bytes.data(), p.bytes.size())));
  for (const auto &[index, n] : number_outs_) print_line(out, n.name, std::to_string(n.value));
}

const ExportRow *find_export(std::string_view name) {
  const auto same = [name](const ExportRow &row) {
    return std::equal(name.begin(), name.end(), row.name.begin(), row.name.end(),
                      [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
  };
  const auto &table = export_table();
  const auto it = std::find_if(table.begin(), table.end(), same);
  return it == table.end() ? nullptr : &*it;
}

}  // namespace qv::cli
