"""GenICam descriptions written to cost their reader: each small as a camera
serves it (most zipped), large or slow once read. DESCRIPTIONS maps a name
to a function giving (the description's bytes, whether it is served zipped);
the tests serve them from the hostile camera, the description benchmark
measures them."""

HEAD = ('<?xml version="1.0" encoding="utf-8"?>\n{doctype}'
        '<RegisterDescription ModelName="Hostile" VendorName="Tarn" SchemaMajorVersion="1" SchemaMinorVersion="1"'
        ' SchemaSubMinorVersion="0" MajorVersion="1" MinorVersion="0" SubMinorVersion="0"'
        ' ProductGuid="11111111-1111-1111-1111-111111111111" VersionGuid="11111111-1111-1111-1111-111111111112"'
        ' StandardNameSpace="None" xmlns="http://www.genicam.org/GenApi/Version_1_1">\n')
TAIL = '<Port Name="Device"/>\n</RegisterDescription>\n'


def description(nodes, doctype=""):
    return (HEAD.format(doctype=doctype) + nodes + TAIL).encode()


def integer(name="Width", tooltip=""):
    tip = f"<ToolTip>{tooltip}</ToolTip>" if tooltip else ""
    return f'<Integer Name="{name}">{tip}<Value>640</Value></Integer>\n'


def struct_reg(shared, entries):
    return ('<StructReg Comment="Bits"><Address>0</Address><Length>4</Length><AccessMode>RW</AccessMode>'
            f'<pPort>Device</pPort>{shared}'
            + "".join(f'<StructEntry Name="Bit{i}"><Bit>{i % 32}</Bit></StructEntry>' for i in range(entries))
            + '</StructReg>\n')


def laughs(references):
    """One internal entity of 50,000 characters used REFERENCES times."""
    doctype = f'<!DOCTYPE RegisterDescription [<!ENTITY a "{"x" * 50_000}">]>\n'
    return description(integer(tooltip="&a;" * references), doctype)


DESCRIPTIONS = {
    "entity, 20,000 uses": lambda: (laughs(20_000), True),
    "entity, 200,000 uses": lambda: (laughs(200_000), True),
    "external entity": lambda: (description(
        integer(tooltip="&e;"), '<!DOCTYPE RegisterDescription [<!ENTITY e SYSTEM "file:///etc/hostname">]>\n'), True),
    "parameter entity": lambda: (description(
        integer(), '<!DOCTYPE RegisterDescription [<!ENTITY % p "<!ENTITY a \'x\'>"> %p;]>\n'), True),
    "StructReg 3,000 shared x 3,000": lambda: (description(
        struct_reg("<pInvalidator>Width</pInvalidator>" * 3000, 3000) + integer()), True),
    "StructReg 100 KB ToolTip x 5,000": lambda: (description(
        struct_reg(f"<ToolTip>{'t' * 100_000}</ToolTip>", 5_000) + integer()), True),
    "StructReg 100 KB ToolTip x 36,000": lambda: (description(
        struct_reg(f"<ToolTip>{'t' * 100_000}</ToolTip>", 36_000) + integer()), True),
    "60 MiB of <x/> in one node": lambda: (description(
        '<Integer Name="Width"><Value>640</Value>' + "<x/>" * (15 << 20) + "</Integer>\n"), True),
    "300,000 attributes": lambda: (description(
        '<Integer Name="Width"' + "".join(f' a{i}=""' for i in range(300_000)) + '><Value>640</Value></Integer>\n'),
        True),
    "1 MiB ToolTip": lambda: (description(integer(tooltip="t" * (1 << 20))), True),
    "150,000 undefined names": lambda: (description(integer() + "".join(
        f'<Integer Name="N{i}"><Value>0</Value>' + "".join(f"<pInvalidator>M{i}x{j}</pInvalidator>" for j in range(10))
        + '</Integer>\n' for i in range(15_000))), True),
    "near every limit, 60 MiB": lambda: (description(
        integer() + "".join(f'<Integer Name="N{i}"><ToolTip>{"t" * 400}</ToolTip><Value>{i}</Value>{"<x/>" * 6}'
                            '</Integer>\n' for i in range(19_000)) + ("<!--" + " " * (1 << 20) + "-->\n") * 50), True),
}
