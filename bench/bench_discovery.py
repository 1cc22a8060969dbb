"""How long a search takes against its configured timeout, with one device
(the independent peer's fake camera) on loopback, in a network namespace of
its own."""

from peer import FAKE_CAMERA, run_in_namespace


PROGRAM = f'''
import subprocess, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
import tarn_base_313 as tarn
camera = subprocess.Popen(["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "BENCH1"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.0)
try:
    system = tarn.TnSystem()
    for timeout in (100, 500, 1500):
        system.SetDetectionTimeout(timeout)
        start = time.perf_counter()
        system.Find()
        took = (time.perf_counter() - start) * 1000
        print(f"Find, timeout {{timeout:5d}} ms: {{took:8.1f}} ms, {{system.GetDeviceCount()}} device(s)")
    system.SetDetectionTimeout(1500)
    start = time.perf_counter()
    result, found = system.FindDevice("127.0.0.1")
    took = (time.perf_counter() - start) * 1000
    print(f"FindDevice by IP, timeout  1500 ms: {{took:8.1f}} ms, found={{found is not None}}")
finally:
    camera.kill()
'''


def main():
    run_in_namespace(PROGRAM)


if __name__ == "__main__":
    main()
