"""What a camera claims while it is found and connected is taken as hostile:
the description's URL names only regular files of the host by absolute
paths, the name it gives its description is made a plain file name, and an
address no host has is never sent commands. Each through the hostile camera
on loopback, in a network namespace of its own."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("urls_child.py")


def test_descriptions_from_the_hosts_files(isolated, tmp_path):
    forms = isolated(CHILD, "descriptions_from_the_hosts_files", tmp_path)["forms"]
    assert forms["regular"][0] == "OK" and forms["regular"][3] == "camera.xml"
    assert forms["zipped"][0] == "OK" and forms["zipped"][3] == "camera.zip"
    for form, kind in [("fifo", "a FIFO"), ("link to a fifo", "a FIFO"), ("directory", "a directory"),
                       ("null", "a device"), ("zero", "a device"), ("environment", "a kernel interface"),
                       ("kernel setting", "a kernel interface")]:
        code, description, taken, _ = forms[form]
        assert code == "CANNOT_OPEN_FILE" and f"is {kind}" in description, form
        assert taken < 10, form
    for form in ("relative", "climbing", "other host"):
        code, description, _, _ = forms[form]
        assert code == "INVALID_DATA_FORMAT" and "absolute path of this host without '..'" in description, form


def test_the_camera_does_not_choose_where_the_host_writes(isolated, tmp_path):
    out = isolated(CHILD, "the_camera_does_not_choose_where_the_host_writes", tmp_path)
    assert out["names"] == {
        "climbing": ["OK", "camera-wrote-this.sh", "OK"],
        "slashes": ["OK", "y.xml", "OK"],
        "backslashes": ["OK", "z.zip", "OK"],
        "hidden": ["OK", "bashrc", "OK"],
        "control": ["OK", "a_b__2Jc.xml", "OK"],
        "only dots": ["OK", "device.xml", "OK"],
    }
    assert out["files"] == sorted(f"run/deep/{name}" for name in (
        "camera-wrote-this.sh", "y.xml", "z.zip", "bashrc", "a_b__2Jc.xml", "device.xml"))


def test_claimed_addresses_no_host_has(isolated, tmp_path):
    claims = ["224.0.0.1", "239.255.255.250", "255.255.255.255", "0.0.0.0", "240.0.0.1", "127.255.255.255",
              "127.0.0.0"]
    out = isolated(CHILD, "claimed_addresses_no_host_has", tmp_path, *claims)
    for claimed in claims:
        found, connected, sent = out["claims"][claimed]
        assert found == "NOT_FOUND" and connected == "NOT_FOUND" and sent == 0, claimed
