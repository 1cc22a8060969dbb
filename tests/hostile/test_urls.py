"""What a camera claims while it is found and connected is taken as hostile:
an address no host has is never sent commands. Each through the hostile
camera on loopback, in a network namespace of its own."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("urls_child.py")


def test_claimed_addresses_no_host_has(isolated, tmp_path):
    claims = ["224.0.0.1", "239.255.255.250", "255.255.255.255", "0.0.0.0", "240.0.0.1", "127.255.255.255",
              "127.0.0.0"]
    out = isolated(CHILD, "claimed_addresses_no_host_has", tmp_path, *claims)
    for claimed in claims:
        found, connected, sent = out["claims"][claimed]
        assert found == "NOT_FOUND" and connected == "NOT_FOUND" and sent == 0, claimed
