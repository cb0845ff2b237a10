"""Text as it came from Ansible: every byte shown, ssh's notes and the
launcher's choice told apart from what the controller said."""
import json
import re

CHOICE = re.compile(r"^plc_do_test: chose (\S+)", re.M)
# ssh's note on a host key it has just learnt: not the controller's words.
KEY_LEARNT = re.compile(r"Warning: Permanently added \S+ \(\S+\) to the list of known hosts\.\r?\n?")


def shown(text):
    """Text from Ansible as text that shows every byte that came: Ansible
    hands undecodable bytes on as lone surrogates (or already replaced by
    U+FFFD); each such byte is written \\xNN."""
    if text is None:
        return None
    if not isinstance(text, str):
        text = json.dumps(text)
    try:
        data = text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:
        data = text.encode("utf-8", "surrogatepass")
    return data.decode("utf-8", "backslashreplace")


def first_line(text):
    return next((line.strip() for line in (text or "").splitlines() if line.strip()), "")


def said(stderr):
    """What the launcher, the loader or the program said, without ssh's notes
    and the launcher's choice."""
    return "\n".join(line for line in KEY_LEARNT.sub("", stderr or "").splitlines() if not CHOICE.match(line))
