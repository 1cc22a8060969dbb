"""The sweep of size arguments that test_sizes.py and its child programs
share: each size argument at 0, 2**31, 2**32 - 8 to 2**32 - 1 and 2**64 - 1."""

U16, U32, U64 = 2**16 - 1, 2**32 - 1, 2**64 - 1
EDGES = [0, 2**31, *range(2**32 - 8, 2**32), 2**64 - 1]


def calls(call, limits, base):
    """call with each argument of base in turn at each edge value: the
    arguments and what it returned, for the calls the wrapper let through."""
    for index in range(len(base)):
        for value in EDGES:
            arguments = base[:index] + (value,) + base[index + 1:]
            outside = any(limit is not None and a > limit for a, limit in zip(arguments, limits))
            try:
                returned = call(*arguments)
            except (OverflowError, TypeError):
                assert outside, arguments
                continue
            assert not outside, (arguments, returned)
            yield arguments, returned


def ok(result):
    return result is not None and result.IsOK()


def image_bytes(width, height, bits, padding_x=0, padding_y=0):
    # Padded lines end on whole bytes; unpadded ones follow bit for bit.
    if padding_x:
        return ((width * bits + 7) // 8 + padding_x) * height + padding_y
    return (width * height * bits + 7) // 8 + padding_y


def room(chunks):
    return chunks + 8 if chunks else 0  # chunks follow the payload's own 8-byte tag
