"""The installer's mailslot channel between two real processes: the datagrams
against their byte layout, decoded and built with Python's struct; 10,000
messages in order; the mailslot's name as another process opens it; error
texts cut to one datagram; and both shutdown orders ending."""

import os
import struct

import pytest

from wine_process import WineProcess

TOOL = "desktop/windows/installer/installer_ipc_tool.exe"
SIGNATURE = b":Installer message:"
MAX_DATAGRAM = 2048


class Peer(WineProcess):
    """One running installer_ipc_tool, read line by line."""

    def __init__(self, build_dir, log_path, *args):
        super().__init__(build_dir, TOOL, log_path, *args)

    def expect(self, text):
        line = self.read_line()
        assert line == text

    def tell(self, *commands):
        for command in commands:
            self.say(command)
            self.expect("ok")

    def end_input(self):
        self.process.stdin.close()


@pytest.fixture
def peers(build_dir, tmp_path, request):
    started = []
    # One channel per test: other test programs may run at the same time.
    name = request.node.name.replace("[", " ").replace("]", "")
    folder = f"C:\\Tarvo IPC {os.getpid()}\\{name}"

    def start(*args):
        peer = Peer(build_dir, tmp_path / f"peer{len(started)}.log", *args)
        started.append(peer)
        return peer

    def receiver(count, install_folder=folder):
        peer = start("receive", install_folder, str(count))
        peer.expect("ready")
        return peer

    def sender(install_folder=folder):
        return start("send", install_folder)

    yield start, receiver, sender
    for peer in started:
        peer.stop()


def with_header(body):
    return struct.pack("<I", len(body)) + body


def message(kind, payload=b""):
    """A datagram as the layout gives it: payload size, signature length 19,
    the signature padded with one zero byte, the type, the payload."""
    return with_header(struct.pack("<i", 19) + SIGNATURE + b"\0" + struct.pack("<i", kind) +
                       payload)


def counted(data, unit):
    """A string field: its count of units, the bytes, zero padding to 4."""
    return struct.pack("<i", len(data) // unit) + data + b"\0" * (-len(data) % 4)


def error_payload(code, detail, text):
    return (struct.pack("<i", code) + counted(detail.encode("utf-16-le"), 2) +
            counted(text.encode(), 1))


def received(receiver, count):
    """The datagrams and replayed calls of `count` message lines."""
    datagrams, calls = [], []
    for _ in range(count):
        word, datagram, call = receiver.read_line().split(" ", 2)
        assert word == "message"
        datagrams.append(b"" if datagram == "-" else bytes.fromhex(datagram))
        calls.append(call)
    receiver.expect("received")
    return datagrams, calls


def decode(datagram):
    """Reads a datagram by the layout: the fixed header, then the payload."""
    payload_size, signature_length = struct.unpack_from("<Ii", datagram, 0)
    assert payload_size == len(datagram) - 4
    assert signature_length == 19
    assert datagram[8:27] == SIGNATURE and datagram[27] == 0
    (kind,) = struct.unpack_from("<i", datagram, 28)
    return kind, datagram[32:]


def decode_error(payload):
    code, detail_units = struct.unpack_from("<ii", payload, 0)
    detail_end = 8 + 2 * detail_units
    detail = payload[8:detail_end].decode("utf-16-le")
    text_start = detail_end + (-detail_end % 4)
    (text_bytes,) = struct.unpack_from("<i", payload, text_start)
    text = payload[text_start + 4:text_start + 4 + text_bytes].decode()
    assert len(payload) == text_start + 4 + text_bytes + (-text_bytes % 4)
    return code, detail, text


def hex_of(data):
    return data.hex() if data else "-"


def test_each_message_has_the_byte_layout(peers):
    _, receiver, sender = peers
    diagnostic = "Could not copy file."  # 20 bytes
    assert len(diagnostic) == 20
    sent = [
        ("folder-created", message(2), "OnInstallFolderCreated"),
        ("new-process 1", message(0, struct.pack("<I", 1)), "OnStartingNewMainProcess 1"),
        ("new-process 0", message(0, struct.pack("<I", 0)), "OnStartingNewMainProcess 0"),
        ("returned", message(1), "OnReturnedToPreviousMainProcess"),
        ("total 12", message(3, struct.pack("<i", 12)), "OnTotalSteps 12"),
        ("step", message(4), "OnStep"),
        (f"error 37055 - {diagnostic.encode().hex()}",
         message(5, error_payload(37055, "", diagnostic)),
         f"OnError 37055 - {diagnostic.encode().hex().upper()}"),
        ("success", message(6), "OnSuccess"),
    ]
    back = receiver(len(sent))
    front = sender()
    front.tell(*(command for command, _, _ in sent))

    datagrams, calls = received(back, len(sent))
    assert calls == [call for _, _, call in sent]
    assert datagrams == [datagram for _, datagram, _ in sent]
    assert [len(d) for d in datagrams] == [32, 36, 36, 32, 36, 32, 64, 32]
    # The error with an empty detail and a 20-byte text, byte for byte.
    assert datagrams[6] == (
        struct.pack("<Ii", 60, 19) + b":Installer message:\0" +
        struct.pack("<iiii", 5, 37055, 0, 20) + b"Could not copy file.")
    assert decode_error(decode(datagrams[6])[1]) == (37055, "", diagnostic)


def test_datagrams_built_by_another_writer_replay(peers):
    _, receiver, sender = peers
    detail = "C:\\Programme\\Tarvo \u00e9t\u00e9 \U0001F4BE"
    text = "Ordner \u00fcberall"
    cases = [
        (message(5, error_payload(37059, detail, text)),
         f"OnError 37059 {detail.encode('utf-16-le').hex().upper()} "
         f"{text.encode().hex().upper()}"),
        # Only the first byte of the flag cell counts.
        (message(0, struct.pack("<I", 0x100)), "OnStartingNewMainProcess 0"),
        # Fields after the payload are ignored.
        (message(3, struct.pack("<ii", 7, 99)), "OnTotalSteps 7"),
        (message(9), "dropped"),
        (message(3), "dropped"),
        (with_header(counted(b"Installer message:", 1) + struct.pack("<i", 4)), "dropped"),
        # Shorter than a header, and a header that claims more than it has.
        (b"\x01\x02\x03", "dropped"),
        (struct.pack("<I", 40) + b"\0" * 8, "dropped"),
        (message(4), "OnStep"),
    ]
    back = receiver(len(cases))
    front = sender()
    # An empty datagram never reaches the receiver's delegate.
    front.tell("raw -")
    front.tell(*(f"raw {datagram.hex()}" for datagram, _ in cases))

    _, calls = received(back, len(cases))
    assert calls == [call for _, call in cases]


def test_ten_thousand_messages_arrive_in_order(peers):
    _, receiver, sender = peers
    count = 10000
    back = receiver(count)
    front = sender()
    front.tell(f"sequence {count}")

    datagrams, calls = received(back, count)
    assert calls == [f"OnTotalSteps {i}" for i in range(count)]
    for i, datagram in enumerate(datagrams):
        assert datagram == message(3, struct.pack("<i", i))
    front.end_input()
    front.expect("closed")
    back.say("")
    back.expect("closed")
    assert front.wait() == 0 and back.wait() == 0


def test_another_process_opens_the_mailslot_by_its_name(peers):
    start, receiver, _ = peers
    # A folder of its own, as test programs may run side by side.
    folder = f"C:\\Program Files\\Tarvo {os.getpid()}"
    back = receiver(0, install_folder=folder)
    back.expect("received")

    def open_result(path):
        probe = start("open", path)
        line = probe.read_line()
        probe.wait()
        return line

    name = "\\\\.\\mailslot\\tarvo_installer\\" + folder
    assert open_result(name) == "opened"
    # Neither the parent folder nor a longer name is the same mailslot.
    assert open_result(name.rsplit("\\", 1)[0]).startswith("failed")
    assert open_result(name + "\\").startswith("failed")
    back.say("")
    back.expect("closed")


def test_long_error_texts_arrive_cut_to_one_datagram(peers):
    _, receiver, sender = peers
    detail = "C:\\" + "\u00c4rger\\" * 600
    text = "\u20ac" * 2000
    back = receiver(2)
    front = sender()
    front.tell(f"error 37062 {detail.encode('utf-16-le').hex()} {text.encode().hex()}",
               # A message that no datagram holds is dropped, and does not
               # hold back the one behind it.
               "oversized 3000",
               "success")

    datagrams, calls = received(back, 2)
    assert calls[1] == "OnSuccess"
    assert len(datagrams[0]) <= MAX_DATAGRAM
    kind, payload = decode(datagrams[0])
    assert kind == 5
    code, sent_detail, sent_text = decode_error(payload)
    assert code == 37062
    assert detail.startswith(sent_detail) and len(sent_detail) >= 400
    assert text.startswith(sent_text) and len(sent_text) >= 300
    assert calls[0] == (f"OnError 37062 {sent_detail.encode('utf-16-le').hex().upper()} "
                        f"{sent_text.encode().hex().upper()}")


@pytest.mark.parametrize("first", ["receiver", "sender"])
def test_either_end_closes_first_and_both_exit(peers, first):
    _, receiver, sender = peers
    back = receiver(1)
    front = sender()
    front.tell("step")
    assert received(back, 1)[1] == ["OnStep"]

    if first == "receiver":
        back.say("")
        back.expect("closed")
        assert back.wait() == 0
        # More than Wine's mailslot buffer holds: these writes wait for a
        # reader that has gone, and closing the sender must end them.
        front.tell("sequence 1000")
        front.end_input()
        front.expect("closed")
        assert front.wait() == 0
    else:
        front.end_input()
        front.expect("closed")
        assert front.wait() == 0
        # The receiver's thread waits in a read that nothing will end but
        # its own close.
        back.say("")
        back.expect("closed")
        assert back.wait() == 0
