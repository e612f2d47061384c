"""The C++ interface's mechanical part, include/quorvex_twins.hpp: one method per twin on
quorvex::detail::Twins, the base of quorvex::SessionView and quorvex::Session, which
include/quorvex.hpp writes by hand together with Result, Outcome and Error.

A method takes the export's inputs in their order (text as std::string_view, int as
int32_t), makes the output buffers at the sizes their roles name, calls the twin and
gathers what came back into a Result: the code role (or an XML reply's code) into code,
the buffer named Message into message, every other output into a field of the export's outputs struct under its
argument's name.  A text holding a zero byte is refused before the call, since the library
would read only the bytes before it.  On a session made for UTF-8 (utf8_) every text input
is converted to GBK before the call (one that GBK cannot hold is refused) and every text
output back to UTF-8 after the call's outcome was read, since a conversion is a call of
its own.  Each XML operation (a _Req and its _Resp) also gets one method under its name
without the suffix that runs both halves.

The outcome queries (GetLastOutcome, GetLastRelogin, GetConnectionState) are written by
hand in quorvex.hpp, since their outputs are the outcome itself.

Each starter (an export with "starter_of") gets a start_ method of the same name and inputs
that starts the operation on a quorvex::Queue (quorvex_ops.hpp) and returns a TypedOp of
the method's Result type, and a reader in detail::reads that builds that Result from the
completed operation's outputs: its texts in the export's order, its numbers (role out) in
order, a pair's request half first.  A pair whose sync method quorvex.hpp writes by hand
(login) gets its start_ method protected, for quorvex.hpp to call.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import notice  # noqa: E402
from emit_sessions import wrapped as signature_lines  # noqa: E402

HAND_WRITTEN = {"outcome"}  # families whose twins quorvex.hpp spells itself
INPUT_TYPES = {"text": "std::string_view", "int": "int32_t"}
TEXT_OUTPUTS = {"param": "QV_PARAM_BUFFER_SIZE", "message": "QV_BODY_BUFFER_SIZE"}


def methods(d):
    family = {e["name"]: e["family"] for e in d["exports"]}
    return [e for e in d["exports"] if e.get("twin_of") and family[e["twin_of"]] not in HAND_WRITTEN]


def own_args(e):
    """The export's own arguments, without the session."""
    return [a for a in e["args"] if a["role"] != "session"]


def outputs(e):
    """(C++ type, name) of each output that goes into the outputs struct."""
    fields = []
    for a in own_args(e):
        if a["role"] in ("out", "reply_code"):
            fields.append(("int32_t", a["name"]))
        elif a["role"] in ("param", "fxtext", "message") and a["name"] != "Message":
            fields.append(("std::string", a["name"]))
        elif a["role"] not in ("code", "text", "int", "message", "fxtext"):
            raise ValueError(f"{e['name']}: role {a['role']} has no C++ form")
    return fields


def struct_names(d):
    """Each export with outputs -> its struct's name; exports with the same outputs share the
    first one's struct."""
    names, by_fields = {}, {}
    for e in methods(d):
        fields = tuple(outputs(e))
        if fields:
            names[e["twin_of"]] = by_fields.setdefault(fields, e["twin_of"] + "Outputs")
    return names


def result_type(e, structs):
    return f"Result<{e['twin_of']}Outputs>" if e["twin_of"] in structs else "Result<>"


def fx_size(e):
    """The size of an XML reply's text buffer, from the export's ReplyLength input."""
    lengths = [a["name"] for a in own_args(e) if a["role"] == "int" and a["name"] == "ReplyLength"]
    if not lengths:
        raise ValueError(f"{e['name']}: an fxtext output needs a ReplyLength input")
    return f"detail::reply_text_size({lengths[0]})"


def method(e, structs):
    args = own_args(e)
    inputs = [a for a in args if a["role"] in INPUT_TYPES]
    rtype = result_type(e, structs)
    lines = signature_lines(f"  {rtype} {e['twin_of']}", [f"{INPUT_TYPES[a['role']]} {a['name']}" for a in inputs],
                             " {", "      ")
    # A response half takes its reply's code back as its ReplyCode input.
    coded = any(a["role"] in ("code", "reply_code") or (a["role"] == "int" and a["name"] == "ReplyCode")
                for a in args)
    lines.append(f'    {rtype} r("{e["name"]}", {"true" if coded else "false"});')
    texts = [(i + 1, a["name"]) for i, a in enumerate(args) if a["role"] == "text"]
    if texts:
        # Positions count in the export's own list, as the library's refusals of a text do.
        lines.append(f"    std::string {', '.join(f'in{position}' for position, _ in texts)};")
        checks = [f"!detail::text_in(r, {position}, {name}, utf8_, in{position})" for position, name in texts]
        if len(checks) == 1:
            lines.append(f"    if ({checks[0]}) return r;")
        else:
            lines.append(f"    if ({checks[0]} ||")
            lines += [f"        {c} ||" for c in checks[1:-1]] + [f"        {checks[-1]})", "      return r;"]
    position_of = {name: position for position, name in texts}
    call = ["handle_"]
    for a in args:
        role, name = a["role"], a["name"]
        target = "r.message" if name == "Message" else f"r.{name}"
        if role == "text":
            call.append(f"in{position_of[name]}.c_str()")
        elif role == "int":
            call.append(name)
        elif role == "code":
            call.append("&r.code")
        elif role in ("out", "reply_code"):
            call.append(f"&{target}")
        elif role in TEXT_OUTPUTS or role == "fxtext":
            size = TEXT_OUTPUTS.get(role) or fx_size(e)
            lines.append(f"    {target}.assign({size}, '\\0');")
            call.append(f"{target}.data()")
    if "code" not in [a["role"] for a in args] and "ReplyCode" in [a["name"] for a in inputs]:
        lines.append("    r.code = ReplyCode;")  # an XML response half's code is its reply's
    text_outputs = ["r.message" if a["name"] == "Message" else f"r.{a['name']}" for a in args
                    if a["role"] in TEXT_OUTPUTS or a["role"] == "fxtext"]
    lines += signature_lines(f"    r.ok = {e['name']}", call, " == 1;", "                ")
    lines += [f"    detail::cut_at_zero({t});" for t in text_outputs]
    for a in args:
        if a["role"] == "reply_code":
            lines.append(f"    if (r.ok) r.code = r.{a['name']};")  # a request half's code is its reply's
    lines.append("    detail::take_outcome(r);")
    lines += [f"    detail::text_out({t}, utf8_);" for t in text_outputs]
    lines += ["    return r;", "  }"]
    return lines


def fx_pairs(d):
    """(request, response) for each XML operation whose response takes the request's reply
    header as its ReplyCode and ReplyLength inputs."""
    by_name = {e["twin_of"]: e for e in methods(d)}
    pairs = []
    for name, req in by_name.items():
        resp = by_name.get(name[:-len("_Req")] + "_Resp") if name.endswith("_Req") else None
        if resp and [a["name"] for a in own_args(resp) if a["role"] == "int"] == ["ReplyCode", "ReplyLength"]:
            pairs.append((req, resp))
    return pairs


def pair_method(req, resp, structs):
    name = req["twin_of"][:-len("_Req")]
    inputs = [a for a in own_args(req) if a["role"] in INPUT_TYPES]
    rtype = result_type(resp, structs)
    lines = [f"  // {req['twin_of']} then {resp['twin_of']}; a failed request half is the result."]
    lines += signature_lines(f"  {rtype} {name}", [f"{INPUT_TYPES[a['role']]} {a['name']}" for a in inputs],
                             " {", "      ")
    lines.append(f"    auto request = {req['twin_of']}({', '.join(a['name'] for a in inputs)});")
    lines.append(f"    if (!request) return detail::failed_as<{rtype}>(request);")
    lines.append(f"    return {resp['twin_of']}(request.ReplyCode, request.ReplyLength);")
    lines.append("  }")
    return lines


def operation_starters(d):
    """(starter, [its halves' twins]) for each starter whose halves have a method here."""
    twins = {e["twin_of"]: e for e in methods(d)}
    result = []
    for e in d["exports"]:
        halves = [twins.get(n) for n in e.get("starter_of", [])]
        if halves and all(halves):
            if len(halves) == 2 and not any(a["role"] in TEXT_OUTPUTS or a["role"] == "fxtext"
                                            for a in own_args(halves[1])):
                raise ValueError(f"{e['name']}: a pair's second half needs a text output")
            result.append((e, halves))
    return result


def coded(e):
    """Whether the method's Result carries a code (a response half: its reply's)."""
    return any(a["role"] in ("code", "reply_code") or (a["role"] == "int" and a["name"] == "ReplyCode")
               for a in own_args(e))


def reader(starter, halves, structs):
    """detail::reads::Name: the Result of the method from a completed operation."""
    name = starter["name"][len("QvStart"):]
    last = halves[-1]
    rtype = result_type(last, structs)
    lines = [f"inline {rtype} {name}(const OpShared *s) {{"]
    op_coded = "true" if coded(last) else "false"
    if len(halves) == 2:
        # A failed first half is the result, as the pair method returns it.
        lines += ["  if (s && s->completed.load() && s->op.load() && !second_half_ran(s->op.load())) {",
                  f'    {rtype} r("{halves[0]["name"]}", true);',
                  "    op_result(r, s->op.load(), false);",
                  "    return r;",
                  "  }"]
    lines += [f'  {rtype} r("{last["name"]}", {op_coded});',
              "  if (!op_readable(r, s)) return r;",
              "  QvOp *const op = s->op.load();",
              f"  op_result(r, op, {op_coded});"]
    texts = numbers = 0
    text_outputs = []
    for h in halves:
        for a in own_args(h):
            target = "r.message" if a["name"] == "Message" else f"r.{a['name']}"
            if a["role"] in TEXT_OUTPUTS or a["role"] == "fxtext":
                if h is last:
                    lines.append(f"  op_text(op, {texts}, {target});")
                    text_outputs.append(target)
                texts += 1
            elif a["role"] == "out":
                if h is last:
                    lines.append(f"  {target} = QvOpNumber(op, {numbers});")
                numbers += 1
            elif a["role"] == "reply_code" and h is last:
                lines.append(f"  {target} = r.code;")
    lines += [f"  text_out({t}, s->utf8);" for t in text_outputs]
    lines += ["  return r;", "}"]
    return lines


def start_method(starter, halves, structs):
    """start_Name: the operation on queue, its refusals before any call as the method's."""
    name = starter["name"][len("QvStart"):]
    first, last = halves[0], halves[-1]
    rtype = result_type(last, structs)
    args = own_args(first)
    inputs = [a for a in args if a["role"] in INPUT_TYPES]
    sync = f"{name}()" if len(halves) == 1 or name + "_Req" == first["twin_of"] else "login()"
    lines = [f"  // {name} as an operation on queue; its result() is what {sync} returns."]
    lines += signature_lines(f"  TypedOp<{rtype}> start_{name}",
                             ["Queue &queue"] + [f"{INPUT_TYPES[a['role']]} {a['name']}" for a in inputs],
                             " {", "      ")
    call_name = first["name"] if len(halves) == 2 else last["name"]
    at_once_coded = "true" if len(halves) == 2 or coded(last) else "false"
    lines.append(f'    {rtype} r("{call_name}", {at_once_coded});')
    texts = [(i + 1, a["name"]) for i, a in enumerate(args) if a["role"] == "text"]
    if texts:
        lines.append(f"    std::string {', '.join(f'in{position}' for position, _ in texts)};")
        checks = [f"!detail::text_in(r, {position}, {n}, utf8_, in{position})" for position, n in texts]
        refuse = f"return detail::refused_op(std::move(r), &detail::reads::{name});"
        if len(checks) == 1:
            lines.append(f"    if ({checks[0]})")
        else:
            lines.append(f"    if ({checks[0]} ||")
            lines += [f"        {c} ||" for c in checks[1:-1]] + [f"        {checks[-1]})"]
        lines.append(f"      {refuse}")
    position_of = {n: position for position, n in texts}
    call = ["handle_", "queue.handle()", "tag"] + [f"in{position_of[a['name']]}.c_str()" if a["role"] == "text"
                                                   else a["name"] for a in inputs]
    lines.append(f"    return detail::start_op(queue, utf8_, &detail::reads::{name}, std::move(r),")
    lines += signature_lines(f"        [&](void *tag) {{ return {starter['name']}", call, "; });", "            ")
    lines.append("  }")
    return lines


def twins_hpp(d):
    structs = struct_names(d)
    starters = operation_starters(d)
    own_pair = {req["twin_of"][:-len("_Req")] for req, _ in fx_pairs(d)}
    public_starts = [(e, h) for e, h in starters if len(h) == 1 or e["name"][len("QvStart"):] in own_pair]
    hand_starts = [(e, h) for e, h in starters if (e, h) not in public_starts]
    lines = [notice("//")[:-1],
             "// The C++ methods of the exports that act on a session, one per twin, and the outputs",
             "// that each hands back beside its code and message.  quorvex.hpp includes this file;",
             "// it documents the methods' common rules, quorvex.h each export.",
             "#ifndef QUORVEX_TWINS_HPP",
             "#define QUORVEX_TWINS_HPP",
             "",
             "#ifndef QUORVEX_HPP",
             "#error \"include quorvex.hpp, which includes this file\"",
             "#endif",
             "",
             "namespace quorvex {",
             "",
             "// The outputs of the exports that hand back more than a code and a message, by the",
             "// names their arguments have in quorvex.h; exports with the same outputs share one.",
             ""]
    seen = set()
    for e in methods(d):
        s = structs.get(e["twin_of"])
        if s and s not in seen:
            seen.add(s)
            lines.append(f"struct {s} {{")
            lines += [f"  {t} {n}{' = 0' if t == 'int32_t' else ''};" for t, n in outputs(e)]
            lines.append("};")
        elif s:
            lines.append(f"using {e['twin_of']}Outputs = {s};")
    lines += ["",
              "namespace detail {",
              "namespace reads {",
              "",
              "// Each operation's result, built from its outputs as its method builds it.",
              ""]
    for e, halves in starters:
        lines += reader(e, halves, structs)
        lines.append("")
    lines += ["}  // namespace reads",
              "",
              "// Every twin as a method on the session handle_ (null: each call is refused by the",
              "// library, QV_OUTCOME_REFUSED with Argument 1).",
              "class Twins {",
              " public:"]
    for e in methods(d):
        lines += method(e, structs)
        lines.append("")
    for req, resp in fx_pairs(d):
        lines += pair_method(req, resp, structs)
        lines.append("")
    for e, halves in public_starts:
        lines += start_method(e, halves, structs)
        lines.append("")
    lines += [" protected:"]
    for e, halves in hand_starts:
        lines += start_method(e, halves, structs)
        lines.append("")
    lines += [
              "  Twins() noexcept = default;",
              "  Twins(QvSession *handle, bool utf8_texts) noexcept : handle_(handle), utf8_(utf8_texts) {}",
              "",
              "  QvSession *handle_ = nullptr;",
              "  bool utf8_ = false;  // texts in and out as UTF-8, else GBK bytes",
              "};",
              "",
              "}  // namespace detail",
              "}  // namespace quorvex",
              "",
              "#endif  // QUORVEX_TWINS_HPP"]
    return "\n".join(lines) + "\n"


OUTPUTS = {"include/quorvex_twins.hpp": twins_hpp}
