"""Machine descriptions drawn at random from a seed, for the replay suites.

Most are coherent, as a capture of a real machine is: the system volume lies
on a disk whose layout counts its partition, and WMI lists that disk's
partitions with their starting offsets (often past 4 GiB, where a 32-bit
parse goes wrong). Then a few things are bent: a volume or disk that does not
open, a request that fails, WMI unreachable, properties of the wrong type,
offsets that do not parse, letters in the wrong case."""
import random
import uuid

MBR_TYPES = [0x00, 0x07, 0x07, 0x07, 0x0B, 0x0C, 0x05, 0x0F, 0x27, 0x83, 0xEE]
GPT_TYPES = ["C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE",
             "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
             "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "00000000-0000-0000-0000-000000000000"]
SECTOR = 512


def layout(rng, count):
    if rng.random() < 0.5:
        return {"mbr": [rng.choice(MBR_TYPES[1:]) for _ in range(count)] + [0] * rng.choice((0, 0, 4 - min(count, 4)))}
    types = [rng.choice(GPT_TYPES[:5]) for _ in range(count)]
    if rng.random() < 0.2:
        types.append(str(uuid.UUID(int=rng.getrandbits(128))).upper())
    return {"gpt": [("{%s}" % t) if rng.random() < 0.1 else t for t in types]}


def offsets(rng, count):
    """Ascending starting offsets of count partitions, some past 4 GiB."""
    found, at = [], 1048576 * rng.choice((1, 1, 2, 63))
    for _ in range(count):
        found.append(at)
        at += SECTOR * rng.choice((2048, 204800, 1 << 21, 1 << 23, 1 << 25, 123456789))
    return found


def bent_offset(rng, offset):
    return rng.choice([str(offset), str(offset), str(offset), " " + str(offset), str(offset) + "x", "-1", "",
                       "18446744073709551615", "18446744073709551616", "00" + str(offset), offset & 0x7FFFFFFF,
                       str(offset & 0xFFFFFFFF), str(offset + (1 << 32)), None])


def bent_property(rng, value):
    return rng.choice([value] * 8 + [None, str(value), True, 0, -1])


def machine(rng):
    disk_count = rng.choice((0, 1, 1, 2, 2, 3, 4))
    disks, partitions = [], []
    for _ in range(disk_count):
        count = rng.choice((0, 1, 2, 3, 4, 5))
        disk = {"layout": layout(rng, count)}
        if rng.random() < 0.05:
            disk["layout"] = None
        if rng.random() < 0.05:
            disk["opens"] = False
        disks.append(disk)
        partitions.append(count)

    letters = rng.sample("CDEFGHIJKLMNOPQRSTUVWXYZ", rng.choice((0, 1, 2, 3, 4, 6)))
    volumes = []
    for letter in letters:
        volume = {"root": (letter if rng.random() < 0.9 else letter.lower()) + ":\\"}
        placed = [(d, p) for d in range(disk_count) for p in range(1, partitions[d] + 1)]
        if placed and rng.random() < 0.85:
            volume["disk"], volume["partition"] = rng.choice(placed)
        elif rng.random() < 0.5:
            volume["disk"], volume["partition"] = rng.choice(((0, 0), (7, 1), (4294967295, 1), (-1, 2), (0, 99)))
        for key, chance in (("opens", 0.05), ("readWrite", 0.1)):
            if rng.random() < chance:
                volume[key] = False
        roll = rng.random()
        if roll < 0.1:
            volume["hotplug"] = None
        elif roll < 0.3:
            volume["hotplug"] = {key: rng.random() < 0.5 for key in ("mediaRemovable", "deviceHotplug", "mediaHotplug")}
        volumes.append(volume)
    if rng.random() < 0.05:
        volumes.append({"root": "\\\\?\\Volume{%s}\\" % uuid.UUID(int=rng.getrandbits(128))})

    description = {"disks": disks, "volumes": volumes}
    roll = rng.random()
    if volumes and roll < 0.85:
        system = rng.choice(volumes)["root"][:2]
        description["systemDrive"] = system.upper() if rng.random() < 0.9 else system.lower()
    elif roll < 0.9:
        # A value longer than the first buffer the Win32 layer offers (64) takes a second read.
        description["systemDrive"] = rng.choice(("", "C", "C:\\", "CC:", None, "C:" + "\\Windows" * 10))

    if rng.random() < 0.08:
        description["wmi"] = None
    else:
        entries = []
        for disk, count in enumerate(partitions):
            boot = rng.randrange(count + 1) if count else None
            for number, offset in enumerate(offsets(rng, count)):
                entry = {"DiskIndex": disk, "StartingOffset": str(offset), "BootPartition": number == boot}
                if rng.random() < 0.15:
                    entry["StartingOffset"] = bent_offset(rng, offset)
                if rng.random() < 0.1:
                    entry["DiskIndex"] = bent_property(rng, disk)
                if rng.random() < 0.1:
                    entry["BootPartition"] = bent_property(rng, entry["BootPartition"])
                for key in ("DiskIndex", "StartingOffset", "BootPartition"):
                    if rng.random() < 0.03:
                        del entry[key]
                entries.append(entry)
        rng.shuffle(entries)
        description["wmi"] = entries
    return description


def machines(seed, count):
    rng = random.Random(seed)
    return [machine(rng) for _ in range(count)]


def hostile(seed, count):
    """Descriptions the loader must refuse, one bent field each."""
    rng = random.Random(seed)
    bends = [
        lambda d: d.update(disks=[{"layout": {"mbr": [256]}}]),
        lambda d: d.update(disks=[{"layout": {"gpt": ["C12A7328-F81F-11D2-BA4B-00A0C93EC93"]}}]),
        lambda d: d.update(disks=[{"layout": {"mbr": [], "gpt": []}}]),
        lambda d: d.update(volumes=[{"root": ""}]),
        lambda d: d.update(volumes=[{"root": "C:\\", "disk": 4294967296}]),
        lambda d: d.update(volumes=[{"root": "C:\\", "partition": -2147483649}]),
        lambda d: d.update(volumes=[{"root": "C:\\", "hotplug": {"mediaRemovable": 1}}]),
        lambda d: d.update(wmi=[{"DiskIndex": 2147483648}]),
        lambda d: d.update(wmi=[{"DiskIndex": 1.5}]),
        lambda d: d.update(wmi=[{"Size": "1"}]),
        lambda d: d.update(wmi={"DiskIndex": 0}),
        lambda d: d.update(systemDrive=3),
        lambda d: d.update(extra=True),
    ]
    found = []
    for _ in range(count):
        description = machine(rng)
        rng.choice(bends)(description)
        found.append(description)
    return found
