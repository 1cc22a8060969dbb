"""What the machine the tests run on holds."""


def machine_bytes():
    """Its memory and swap, in bytes, as /proc/meminfo tells them."""
    fields = {}
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            name, value = line.split(":")
            fields[name] = int(value.split()[0]) * 1024
    return fields["MemTotal"] + fields["SwapTotal"]
