"""What korvel's probes answer on a machine description, read from the JSON
alone: a second answer for the page, apart from the C++ that draws it."""
import re
import uuid


def fold(text):
    return text.encode().lower()  # ASCII letters only, as korvel folds them


def volume_of(description, letter):
    """The volume that \\\\.\\X: opens: the first whose root begins with X."""
    return next((v for v in description.get("volumes", []) if fold(v["root"])[:1] == fold(letter)[:1]), None)


def hotplug_reason(description, letter):
    """Why the hot-plug step turns the letter away, or None when it passes."""
    volume = volume_of(description, letter)
    if not volume or not volume.get("opens", True) or not volume.get("readWrite", True):
        return "the volume did not open for reading and writing"
    hotplug = volume.get("hotplug", {})
    if hotplug is None:
        return "the volume refused the hot-plug request"
    if hotplug.get("mediaRemovable") or hotplug.get("deviceHotplug"):
        return "it is on removable media or a hot-plug device"
    return None


def walked_disks(description):
    """Disks are counted up to the first that does not open."""
    disks = description.get("disks", [])
    return next((i for i, disk in enumerate(disks) if not disk.get("opens", True)), len(disks))


def counted(disk):
    """Per layout entry, whether it counts as a partition; None for a layout that is not read.
    An empty slot and type 0x0F do not count; a GPT entry is judged by its GUID's first byte in memory."""
    layout = disk.get("layout", {})
    if layout is None:
        return None
    if "gpt" in layout:
        return [uuid.UUID(guid).bytes_le[0] not in (0x00, 0x0F) for guid in layout["gpt"]]
    return [kind not in (0x00, 0x0F) for kind in layout.get("mbr", [])]


def root_at(description, disk, partition):
    """The first listed root whose volume opens and reports these numbers, or None."""
    for root in (v["root"] for v in description.get("volumes", [])):
        volume = volume_of(description, root)
        if volume.get("opens", True) and (volume.get("disk"), volume.get("partition")) == (disk, partition):
            return root
    return None


def system_disk(description):
    drive = description.get("systemDrive") or ""
    for disk in range(walked_disks(description)):
        for partition in range(1, sum(counted(description["disks"][disk]) or []) + 1):
            root = root_at(description, disk, partition)
            if drive and root is not None and fold(root[:2]) == fold(drive):
                return disk
    return None


def notes(description):
    """The notes the description calls for, in the page's order."""
    found = []
    volumes = description.get("volumes", [])
    unnumbered = [v["root"] for v in volumes if v.get("disk") is None or v.get("partition") is None]
    if unnumbered:
        found.append(f"Volumes that report no device numbers, so that no walk finds them: {', '.join(unnumbered)}.")
    disk = system_disk(description)
    if "wmi" in description and description["wmi"] is None:
        found.append("WMI cannot be reached: no query can confirm a boot partition. In WinPE this means that the "
                     "image lacks the WinPE-WMI optional component.")
    elif disk is not None and not any(type(e.get("DiskIndex")) is int and e["DiskIndex"] == disk
                                      for e in description.get("wmi", [])):
        found.append(f"WMI lists no entry with DiskIndex {disk}, the system disk.")
    drive = description.get("systemDrive") or ""
    if not drive:
        return found
    volume = next((v for v in volumes if fold(v["root"][:2]) == fold(drive)), None)
    if volume and not (volume.get("opens", True) and volume.get("readWrite", True)):
        found.append(f"The volume of SystemDrive, {volume['root']}, refuses the read/write open: the description "
                     "was probably captured without elevation.")
    if not re.fullmatch("[A-Za-z]:", drive):
        found.append(f"SystemDrive is \"{drive}\", which is not a letter and a colon.")
    elif disk is None:
        found.append(f"SystemDrive, {drive}, is on no partition of a walked disk. In WinPE and WinRE SystemDrive is "
                     "the RAM disk the image boots into: a script that checks the installed Windows sets SystemDrive "
                     "to that Windows' drive for the korvel call.")
    return found
