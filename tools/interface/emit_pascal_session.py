"""The Pascal session methods: one per session twin, under the classic export's name, on
TQvSessionView (which TQvSession and the default session's view share), taking texts
(TQvText: a string, or GBK bytes) and Int32 and returning a TQvReply (a Boolean when the
export has no outputs).  Three files, which Quorvex.pas includes:

    QuorvexSession.inc      the declarations, each under its classic export's text
    QuorvexSessionImpl.inc  the bodies: two statements each, over TQvCall
    QuorvexReply.inc        TQvReply's named outputs, every output name of the methods once
    QuorvexAsync.inc        TQvAsyncSession's Start methods, one per operation of the methods
    QuorvexAsyncImpl.inc    their bodies, over TQvPending

An operation (a starter of quorvex_async.h) whose exports are all methods here is a Start
method: StartHeartbeat(OnDone), StartLogin(app, extra, name, pwd, ver, OnDone) for the pair
Login_Request + Login_Feedback, under the pair's stem.  OnDone gets what the sync method (a
pair's second half) returns: a TQvReply, filled from the operation's outputs into the same
named fields, or a Boolean.

TQvCall, written by hand in Quorvex.pas, does the rest once: the output buffers of their
documented sizes, each input text turned into GBK through the unit's one conversion before
the session is entered (a text that cannot travel is refused there, naming it), the
session entered for the import and left with its result, the outcome of a failed call,
and the outputs read back into the reply's named fields (and its Params and Numbers, in
the export's order).
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
    """(inputs, texts, passed, outputs, text_size, sized, has_outputs) of twin e: its Pascal
    parameters, its text inputs as (name, place), the arguments the import is given after the
    session, its named outputs as (name, Pascal type), the size of its Message buffer, and how
    many of its outputs are texts of an XML reply, sized as the Message."""
    inputs, texts, passed, outputs = [], [], [], []
    text_size, params, numbers, sized = None, 0, 0, 0
    for place, a in enumerate(e["args"][1:], start=1):
        role, name = a["role"], a["name"]
        if role == "text":
            # The place counts as the classic export does (the session not included), as the
            # library's own refusals report it.
            inputs.append((name, TEXT_TYPE))
            passed.append(f"C.Input({len(texts)})")
            texts.append((name, place))
        elif role == "int":
            inputs.append((name, "Int32"))
            passed.append(name)
        elif role == "code":
            passed.append("@C.R.Code")
        elif role == "reply_code":
            # An XML request's reply code is the reply's Code too.
            passed.append(f"C.CodeAt(C.R.{name})")
            outputs.append((name, "Int32"))
        elif role == "out":
            passed.append(f"C.Number({numbers}, C.R.{name})")
            outputs.append((name, "Int32"))
            numbers += 1
        elif role == "message" or (role == "fxtext" and text_size is None):
            # The first text of an XML reply is the Message, sized by the reply.
            text_size = "QV_BODY_BUFFER_SIZE" if role == "message" else "QvFxBufferSize(ReplyLength)"
            passed.append("C.Text")
        elif role in ("param", "fxtext"):
            # Any other text of an XML reply is sized as the Message: TQvCall makes those
            # buffers first, so they come before the Param-sized ones.
            if role == "fxtext":
                if params > sized:
                    raise ValueError(f"{e['name']}: an XML text after a Param-sized one")
                sized += 1
            passed.append(f"C.Param({params}, C.R.{name})")
            outputs.append((name, "string"))
            params += 1
        else:
            raise ValueError(f"{e['name']}: no TQvSession method shape for the role {role!r} of {name}")
    has_outputs = text_size is not None or params or numbers or any(
        a["role"] in ("code", "out", "reply_code") for a in e["args"][1:])
    return inputs, texts, passed, outputs, text_size or "0", sized, has_outputs


def heading(e, qualified, indent):
    """The method's heading, filled into lines that start with indent."""
    inputs, *_, has_outputs = shape(e)
    name = ("TQvSessionView." if qualified else "") + e["twin_of"]
    return parameters(name, inputs, f": {'TQvReply' if has_outputs else 'Boolean'};", indent)


def parameters(name, inputs, result, indent):
    """A function heading: name, its (argument, type) inputs grouped by type, and result."""
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
    """The method: its call's buffers and inputs made before the session is entered (a text
    that cannot travel raises there), then the import, whose result ends the call."""
    inputs, texts, passed, _, text_size, sized, has_outputs = shape(e)
    start = [f"Self, '{e['twin_of']}', {text_size}"]
    if texts and sized:
        raise ValueError(f"{e['name']}: TQvCall.Start takes either texts or sized outputs")
    if sized:
        start[0] += f", {sized});"
    elif texts:
        start[0] += ", [" + ", ".join(n for n, _ in texts) + "],"
        start += [f"[{', '.join(str(p) for _, p in texts)}],", "'" + ",".join(n for n, _ in texts) + "');"]
    else:
        start[0] += ");"
    lines = heading(e, True, "") + ["var C: TQvCall;", "begin"] + fill("  C.Start(", start, "    ")
    args = ["C.Enter"] + passed
    items = [f"{e['name']}(" + a + "," for a in args[:1]] + [a + "," for a in args[1:]]
    items[-1] = items[-1][:-1] + "));"
    lines += fill(f"  Result := C.{'Done' if has_outputs else 'Ended'}(", items, "    ")
    return lines + ["end;", ""]


def implementation(d):
    lines = [notice("//")[:-1], ""]
    for e in twins(d):
        lines += body(e)
    return "\n".join(lines)


def reply_fields(d):
    """Every named output of the session methods, once, as a field of TQvReply."""
    fields = {}
    for e in twins(d):
        for name, kind in shape(e)[3]:
            if fields.setdefault(name, kind) != kind:
                raise ValueError(f"the output {name} is a {kind} in {e['twin_of']} and a {fields[name]} elsewhere")
    lines = [notice("//")[:-1], "    { The named outputs of the session methods; a method fills those it has. }"]
    for kind in ("string", "Int32"):
        names = [n for n, k in fields.items() if k == kind]
        lines += fill("    ", [n + "," for n in names[:-1]] + [f"{names[-1]}: {kind};"], "    ")
    return "\n".join(lines) + "\n"


def operations(d):
    """(name, starter, halves) of each operation whose exports are all methods here: name
    is the starter's without QvStart, halves the classic exports it runs."""
    classic = {e["name"]: e for e in d["exports"]}
    methods = {e["twin_of"] for e in twins(d)}
    return [(e["name"][len("QvStart"):], e, [classic[n] for n in e["starter_of"]]) for e in d["exports"]
            if e.get("starter_of") and all(n in methods for n in e["starter_of"])]


def async_shape(halves):
    """(inputs, texts, passed, message, text_fields, number_fields, code_field, has_outputs) of
    an operation, its outputs laid out as the operation keeps them: the texts in the halves'
    order (the Message first where there is one), the numbers likewise, and the result code
    (a pair's reply code, also kept in code_field) apart."""
    inputs, texts, passed = [], [], []
    message, text_fields, number_fields, code_field, coded = False, [], [], None, False
    for half, e in enumerate(halves):
        # The place counts as the classic export does, as for the sync methods.
        for place, a in enumerate(e["args"], start=1):
            role, name = a["role"], a["name"]
            if role == "text" and half == 0:
                inputs.append((name, TEXT_TYPE))
                passed.append(f"O.Input({len(texts)})")
                texts.append((name, place))
            elif role == "int" and half == 0:
                inputs.append((name, "Int32"))
                passed.append(name)
            elif role == "int":
                continue  # the first half's outputs, which the operation passes on itself
            elif role in ("code", "reply_code"):
                coded = True
                code_field = name if role == "reply_code" else code_field
            elif role == "message" or (role == "fxtext" and not message and not text_fields):
                message = True
            elif role in ("param", "fxtext"):
                text_fields.append(name)
            elif role == "out":
                number_fields.append(name)
            else:
                raise ValueError(f"{e['name']}: no Start method shape for the role {role!r} of {name}")
    has_outputs = coded or message or bool(text_fields or number_fields)
    return inputs, texts, passed, message, text_fields, number_fields, code_field, has_outputs


def async_heading(name, halves, qualified, indent):
    inputs, *_, has_outputs = async_shape(halves)
    event = "TQvReplyEvent" if has_outputs else "TQvResultEvent"
    return parameters(("TQvAsyncSession." if qualified else "") + "Start" + name,
                      inputs + [("OnDone", event)], ": IQvOperation;", indent)


def async_declarations(d):
    lines = [notice("//")[:-1]]
    for name, _, halves in operations(d):
        lines += async_heading(name, halves, False, "    ")
    return "\n".join(lines) + "\n"


def async_body(name, starter, halves):
    """The Start method: the operation made (its texts turned into GBK, or EQuorvexError),
    where its outputs go, its event, then the starter, given the operation as its tag."""
    _, texts, passed, message, text_fields, number_fields, code_field, has_outputs = async_shape(halves)
    lines = async_heading(name, halves, True, "") + ["var O: TQvPending;", "begin",
                                                     f"  O := Pending('{name}', Result);"]
    if texts:
        lines += fill("  O.Texts(", [f"[{', '.join(n for n, _ in texts)}],",
                                     f"[{', '.join(str(p) for _, p in texts)}],",
                                     "'" + ",".join(n for n, _ in texts) + "');"], "    ")
    if has_outputs:
        fields = [f"{'True' if message else 'False'},",
                  "[" + ", ".join(f"@O.R.{f}" for f in text_fields) + "],",
                  "[" + ", ".join(f"@O.R.{f}" for f in number_fields) + "],",
                  (f"@O.R.{code_field}" if code_field else "nil") + ");"]
        lines += fill("  O.Outputs(", fields, "    ")
    lines.append(f"  O.{'OnReply' if has_outputs else 'OnResult'} := OnDone;")
    args = [f"{starter['name']}(O.Enter,", "O.Queue,", "O,"] + [a + "," for a in passed]
    args[-1] = args[-1][:-1] + "));"
    lines += fill("  O.Started(", args, "    ")
    return lines + ["end;", ""]


def async_implementation(d):
    lines = [notice("//")[:-1], ""]
    for name, starter, halves in operations(d):
        lines += async_body(name, starter, halves)
    return "\n".join(lines)


OUTPUTS = {"bindings/pascal/QuorvexSession.inc": declarations,
           "bindings/pascal/QuorvexAsync.inc": async_declarations,
           "bindings/pascal/QuorvexAsyncImpl.inc": async_implementation,
           "bindings/pascal/QuorvexSessionImpl.inc": implementation,
           "bindings/pascal/QuorvexReply.inc": reply_fields}
