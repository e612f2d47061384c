"""The Pascal TQvSession's methods: one per session twin, under the classic export's name,
taking texts (TQvText: a string, or GBK bytes) and Int32 and returning a TQvReply (a
Boolean when the export has no outputs).  bindings/pascal/QuorvexSession.inc holds their declarations, each under its
classic export's documentation text, which Quorvex.pas includes in the class, and
QuorvexSessionImpl.inc their bodies, included in the unit's implementation.  Quorvex.pas holds the rest: the handle, Enter and Leave around every call,
TQvOutputs (the buffers of one call: it turns each input text into GBK through the unit's
one conversion, refusing a text that cannot travel, and names the call in the reply) and the outcome queries, which return their own types.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import fill, notice  # noqa: E402

HAND_WRITTEN = {"GetLastOutcome", "GetLastRelogin", "GetConnectionState"}
TEXT_TYPE = "TQvText"


def twins(d):
    return [e for e in d["exports"] if e.get("twin_of") and e["twin_of"] not in HAND_WRITTEN]


def shape(e):
    """(inputs, passed, buffers, numbers, outputs?) of twin e: its Pascal parameters, the
    arguments the import is given after the session, and how the outputs are laid out."""
    inputs, passed = [], []
    text_size, params, numbers, texts = None, 0, 0, 0
    param_size = "QV_PARAM_BUFFER_SIZE"
    for place, a in enumerate(e["args"][1:], start=1):
        role, name = a["role"], a["name"]
        if role == "text":
            # The place counts as the classic export does (the session not included), as the
            # library's own refusals report it.
            inputs.append((name, TEXT_TYPE))
            passed.append(f"O.Input({texts}, {place}, '{name}', {name})")
            texts += 1
        elif role == "int":
            inputs.append((name, "Int32"))
            passed.append(name)
        elif role == "code" or (role == "out" and name == "ReplyCode"):
            passed.append("@O.Code")
        elif role == "out":
            passed.append(f"@O.Numbers[{numbers}]")
            numbers += 1
        elif role == "message":
            text_size = "QV_BODY_BUFFER_SIZE"
            passed.append("O.Text")
        elif role == "param":
            passed.append(f"O.Param({params})")
            params += 1
        elif role == "fxtext":
            # The first text of an XML reply is the Message, any other a Param, each sized by the reply.
            if text_size is None:
                text_size = "QvFxBufferSize(ReplyLength)"
                passed.append("O.Text")
            else:
                param_size = "QvFxBufferSize(ReplyLength)"
                passed.append(f"O.Param({params})")
                params += 1
        else:
            raise ValueError(f"{e['name']}: no TQvSession method shape for the role {role!r} of {name}")
    has_outputs = text_size is not None or params or numbers or any(
        a["role"] in ("code", "out") for a in e["args"][1:])
    layout = (text_size or "0", params, param_size, numbers)
    return inputs, passed, layout, has_outputs


def heading(e, qualified, indent):
    """The method's heading, filled into lines that start with indent."""
    inputs, _, _, has_outputs = shape(e)
    name = ("TQvSession." if qualified else "") + e["twin_of"]
    result = f": {'TQvReply' if has_outputs else 'Boolean'};"
    groups = []
    for arg, kind in inputs:
        if groups and groups[-1][1] == kind:
            groups[-1][0].append(arg)
        else:
            groups.append(([arg], kind))
    if not groups:
        return [f"{indent}function {name}{result}"]
    items = [f"{'const ' if kind == TEXT_TYPE else ''}{', '.join(n)}: {kind};" for n, kind in groups]
    items[-1] = items[-1][:-1] + ")" + result
    return fill(f"{indent}function {name}(", items, indent + "  ")


def doc_comment(text, indent):
    """text as a Pascal comment that an editor shows over the declaration below it; a brace
    in the text would end the comment, so it becomes a parenthesis."""
    words = text.replace("{", "(").replace("}", ")").split()
    return fill(indent + "{ ", words, indent + "  ")[:-1] + [
        fill(indent + "{ ", words, indent + "  ")[-1] + " }"]


def declarations(d):
    docs = {e["name"]: e.get("doc", "") for e in d["exports"]}
    lines = [notice("//")[:-1]]
    for e in twins(d):
        if docs.get(e["twin_of"]):
            lines += doc_comment(docs[e["twin_of"]], "    ")
        lines += heading(e, False, "    ")
    return "\n".join(lines) + "\n"


def body(e):
    inputs, passed, (text_size, params, param_size, numbers), has_outputs = shape(e)
    uses_outputs = has_outputs or any(a["role"] == "text" for a in e["args"])
    lines = heading(e, True, "") + ["var"] + (["  O: TQvOutputs;"] if uses_outputs else []) + [
        "  P: Pointer;", "  Ok: Boolean;", "begin"]
    if uses_outputs:
        lines.append(f"  O.Start('{e['twin_of']}', {text_size}, {params}, {param_size});")
    lines += ["  P := Enter;", "  try"]
    # Broken only between arguments, never inside one.
    args = ["P"] + passed
    items = [f"{e['name']}(" + args[0]] if len(args) == 1 else [f"{e['name']}(P,"]
    items += [a + "," for a in args[1:-1]] + ([args[-1]] if len(args) > 1 else [])
    items[-1] += ");"
    lines += fill("    Ok := ", items, "      ")
    lines += ["  finally", "    Leave;", "  end;",
              f"  Result := O.Done(Ok, {numbers});" if has_outputs else "  Result := Ok;", "end;", ""]
    return lines


def implementation(d):
    lines = [notice("//")[:-1], ""]
    for e in twins(d):
        lines += body(e)
    return "\n".join(lines)


OUTPUTS = {"bindings/pascal/QuorvexSession.inc": declarations,
           "bindings/pascal/QuorvexSessionImpl.inc": implementation}
