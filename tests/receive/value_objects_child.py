"""Makes and drops the value objects of a device (its type, class and access
type) 900000 times; prints how much the process grew over the last 300000
rounds of three.

    value_objects_child.py"""

import tarn_receive_313 as rx

device = rx.TnDeviceGEV()


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


for _ in range(20000):
    device.GetType(); device.GetClass(); device.GetAccessType()
before = rss()
for _ in range(300000):
    device.GetType(); device.GetClass(); device.GetAccessType()
print("grown", rss() - before)
