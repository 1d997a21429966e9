#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus into fuzz/corpus/<target>/.

The wrist-unit frames carry a correct CRC-8, computed here independently of
the module's codec, so that the fuzzer starts past the checksum. Run it again
after changing a seed; the files it writes are kept in the tree.
"""
import base64
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def crc8(data):
    """Dallas/Maxim 1-Wire CRC-8, reflected, initial value 0."""
    crc = 0
    for byte in data:
        for _ in range(8):
            mix = (crc ^ byte) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            byte >>= 1
    return crc


assert crc8(b"123456789") == 0xA1


def frame(letter, payload=b"", nack=False):
    body = bytes([ord(letter) | (0x80 if nack else 0)]) + payload
    return bytes([0xD4, len(body), len(body), 0xD4]) + body + bytes([crc8(body)])


def data_frame(counter, bp=1200, hgt=35, plet=512, flags=0):
    return frame("d", struct.pack("<HHHHB", counter & 0xFFFF, bp, hgt, plet, flags))


def beat_frame(counter, ibi=850):
    return frame("b", struct.pack("<HBHHHHHB", counter, 0, 1200, 800, 930, 705, ibi, 0))


def status_frame(counter, state=0x30, error=0, warning=0, hcu=0x20, ch8=1, extra=0x85, ch11=7):
    return frame("s", struct.pack("<HBBIBBBBxxx", counter, state, error, warning, hcu, ch8, extra, ch11))


def version_frame(structure, record):
    return frame("v", bytes([3]) + bytes(7) + structure.encode() + record)


def version_record(hardware=0x1234, major=2, minor=1, patch=7, revision=311, protocol=3):
    return struct.pack("<HBBHHB", hardware, major, minor, patch, revision, protocol).ljust(120, b"\0")


def hardware_record(serial=b"VZ-000417"):
    return (bytes(22) + serial + b"\0").ljust(122, b"\0")


def nano_stream():
    # The first byte of each seed sets the size of the port's reads.
    seeds = {
        "a": b"\x00" + frame("a"),
        "b": b"\x10" + b"".join(beat_frame(100 + 160 * i, ibi=800 if i % 2 else 0) for i in range(6)),
        "c": b"\x05" + frame("c", b"\x01") + frame("c", b"\x02") + frame("c", b"\x03"),
        "d": b"\xff" + b"".join(data_frame(65533 + i) for i in range(6)) + data_frame(9),
        "e": b"\x03" + frame("e", b"\x01") + frame("e", b"\x06"),
        "h": b"\x07" + frame("h", b"\x00") + frame("h", b"\x01"),
        "m": b"\x01" + frame("m", b"\x31") + frame("m", b"\x75"),
        "s": b"\x20" + status_frame(10) + status_frame(11, state=0x11, error=0, warning=0x20, hcu=0x80)
        + status_frame(12, state=0x41, error=0x85, warning=0x80000000, hcu=0xA0, extra=0xC3),
        "t": b"\x0d" + frame("t", struct.pack("<BBIII", 1, 2, 1, 120, 500)) + frame("t", b"\x02"),
        "u": b"\x02" + frame("u", b"\x00"),
        "v": b"\x40" + version_frame("N", version_record()) + version_frame("H", hardware_record())
        + version_frame("B", version_record(major=1, minor=0)) + version_frame("X", bytes(120)),
        "z": b"\x00" + frame("z"),
        "F": b"\x08" + frame("F", struct.pack("<I", 4096)),
        "B": b"\xfe" + frame("B", bytes([0, 0]) + bytes(range(128))),
        "nack": b"\x06" + frame("c", b"\x05", nack=True) + frame("v", b"\x02", nack=True),
        "longest": b"\x80" + frame("x", bytes(range(254))) + data_frame(1),
        # What a real line carries: frames among garbage, a frame with a bad
        # checksum, a doubled length of 0, a frame cut off at the end.
        "noisy": b"\x09" + b"\x00\xd4\x13\xd4" + data_frame(1) + b"\xd4\x00\x00\xd4"
        + data_frame(2)[:-1] + b"\x00" + status_frame(3) + b"\xd4\xd4" + beat_frame(3)
        + data_frame(4)[:7],
    }
    return {f"frame_{name}": seed for name, seed in seeds.items()}


def command_lines():
    lines = {
        "startup": ">dev/init\n?dev/serialnum\n?dev/version\n?dev/isok\n?dev/startwarning\n",
        "settings": ">dev/dms_UseComments 2\n>dev/dms_PCalOff 1\n>dev/dms_CntKVSamp 2\n"
        ">dev/dms_EnableSwitching 2\n>dev/dms_Start 2\n>dev/dms_Mins 0\n>dev/dms_InflateWarn 1\n",
        "test_mode": ">dev/dms_TestEnab 1\n>dev/dms_Test 3\n>dev/dms_Press 120\n"
        ">dev/dms_Offset 40\n>dev/dms_Freq 2\n>dev/init\n>in/sampler/start\n>in/sampler/stop\n",
        "sampling": ">dev/init\n>dev/dms_ZeroHCU\n>dev/dms_IsZeroed\n>in/sampler/start\n"
        ">in/sampler/stop\n?dev/lasterror\n?dev/lasterror\n",
        "in_words": "?in/nachans\n?in/cha05/arithmetic\n?in/cha8/arithmetic\n?in/arithmetic\n"
        "?in/controllist\n?in/sampler/pause\n",
        "odd_lines": "xyz>dev/isok\nno prefix\n\n>other/word\n>dev/unknown\n>dev/dms_Mins -5\n"
        ">dev/dms_Start 2abc\n",
        "bad_parameter": ">dev/dms_Test\n?dev/isok\n",
        "exit": ">dev/init\n>dev/exit\n?dev/isok\n",
        "long_line": ">dev/" + "x" * 2100 + "\n?dev/isok\n",
    }
    return {f"lines_{name}": text.encode() for name, text in lines.items()}


def image_xml(data, major=2, minor=1, patch=7, revision=311, hardware=4660, length=None):
    encoded = base64.encodebytes(data).decode()
    return (
        '<?xml version="1.0" encoding="utf-8"?>\n<FirmwareImage>\n  <Binary>\n'
        f"    <Major>{major}</Major>\n    <Minor>{minor}</Minor>\n"
        f"    <Patch>{patch}</Patch>\n    <Revision>{revision}</Revision>\n"
        f"    <Hardware>{hardware}</Hardware>\n    <CRC>{crc8(data)}</CRC>\n"
        f"    <Length>{len(data) if length is None else length}</Length>\n"
        f"    <Data>\n{encoded}    </Data>\n  </Binary>\n</FirmwareImage>\n"
    )


def xml_documents():
    docs = {
        "image": image_xml(bytes(range(200))),
        "features": '<?xml version="1.0"?>\n<!-- note --><Root a="1" b=\'two\'>'
        "<Child>x &amp; y &lt; z &gt; &quot;q&quot; &apos;</Child><Empty/>"
        "<![CDATA[<raw> & text]]><?pi stuff?><Deep><Deeper><Deepest/></Deeper></Deep></Root>\n",
        "broken": "<Root><Open></Root>",
    }
    seeds = {f"xml_{name}": b"\x00" + text.encode() for name, text in docs.items()}
    seeds["xml_utf16"] = b"\x01" + "\ufeff<Binary><Major>1</Major></Binary>".encode("utf-16-le")
    return seeds


def base64_texts():
    return {
        "b64_text": b"\x00" + base64.encodebytes(bytes(range(64))),
        "b64_padded": b"\x00QUJDRA==\nQUI=",
        "b64_noise": b"\x00 QU\tJD*R E\xe9Fn-Rw",
        "b64_wide": b"\x01" + "QUJD\u0141RA".encode("utf-16-le"),
        "b64_roundtrip": b"\x80" + bytes(range(0, 256, 7)),
    }


def image_files():
    data = bytes((i * 7 + i // 251) & 0xFF for i in range(1000))
    return {
        "image_one": b"ViveZore.V2.1.7.311.xml\n" + image_xml(data).encode(),
        "image_ranked": b"ViveZore.V2.1.7.311.xml|ViveZore.V10.0.0.1.xml|ViveZore.V1.9.9.9!.xml\n"
        + image_xml(data[:129]).encode(),
        "image_other_names": b"vivezore.v1.2.3.4.xml|ViveZore.V1.2.3.xml|ViveZore.V1.2.3.4.XML\n"
        + image_xml(data[:10]).encode(),
        "image_empty_data": b"ViveZore.V0.0.0.0.xml\n" + image_xml(b"").encode(),
        "image_utf16": b"ViveZore.V3.0.0.0!.xml\n"
        + "\ufeff".encode("utf-16-le") + image_xml(data[:300], hardware=1).encode("utf-16-le"),
    }


def main():
    targets = {
        "nano_stream_fuzzer": nano_stream(),
        "command_line_fuzzer": command_lines(),
        "xml_reader_fuzzer": xml_documents(),
        "base64_fuzzer": base64_texts(),
        "firmware_image_fuzzer": image_files(),
    }
    for target, seeds in targets.items():
        folder = ROOT / target
        if folder.exists():
            # Regression inputs (crash-*) stay; the generated seeds are rewritten.
            for path in folder.iterdir():
                if not path.name.startswith("crash-"):
                    path.unlink()
        folder.mkdir(parents=True, exist_ok=True)
        for name, seed in seeds.items():
            (folder / name).write_bytes(seed)


if __name__ == "__main__":
    main()
