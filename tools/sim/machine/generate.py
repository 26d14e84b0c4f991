#!/usr/bin/env python3
"""Writes the files of the simulated machine that SCELNX_64 (the simulator) bakes in:

  settings.txt  the live settings of release XB0A12, with some settings changed by its user;
  new-bios.txt  release XB0A13 as shipped: a few questions added, removed and moved, some
                defaults and option lists changed, every setting at its default;
  vars.txt      the machine's UEFI variables (password and HDD boot priority).

The output is deterministic; run it again after editing and commit the results.
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
MOVE = '\t// Move "*" to the desired Option'
EN_DIS = [("00", "Disabled"), ("01", "Enabled")]
DEG = "\xf8C"  # the degree sign as the setup pages print it (code page 437)


class Q:
    """One setup question. kind: opt, bool, dec, hex, str or empty (an empty option list)."""

    def __init__(self, name, kind="opt", options=None, default=None, width="01", help=None,
                 no_default=False, no_star=False, blank=False, indent=" " * 9, comment=True):
        self.name, self.kind, self.width = name, kind, width
        self.options = list(options if options is not None else EN_DIS)
        if default is None:
            default = self.options[0][0] if kind in ("opt", "empty") else "0"
        self.default = self.current = default
        self.help = help or name.strip()
        self.no_default, self.no_star, self.blank = no_default, no_star, blank
        self.indent, self.move_comment = indent, comment
        self.commented = False
        self.token = self.offset = None

    def lines(self):
        out = ["Setup Question\t= " + self.name, "Help String\t= " + self.help,
               "Token\t=%s\t// Do NOT change this line" % self.token, "Offset\t=" + self.offset,
               "Width\t=" + self.width]
        if self.blank:
            out.append("")
        if self.kind in ("opt", "empty") and not self.no_default:
            text = dict(self.options).get(self.default, "")
            out.append("BIOS Default\t=[%s]%s " % (self.default, text))
        if self.kind == "opt":
            starred = False
            for i, (code, text) in enumerate(self.options):
                star = ""
                if code == self.current and not starred and not self.no_star:
                    star, starred = "*", True
                if i == 0:
                    out.append("Options\t=%s[%s]%s%s" % (star, code, text,
                                                        MOVE if self.move_comment else ""))
                else:
                    out.append("%s%s[%s]%s" % (self.indent, star, code, text))
        elif self.kind == "empty":
            out.append("Options\t=")
        elif self.kind == "bool":
            out += ["BIOS Default\t=%s " % self.default,
                    "Value\t=%s\t// Enabled = 1, Disabled = 0" % self.current]
        elif self.kind == "dec":
            out += ["BIOS Default\t=<%s> " % self.default, "Value\t=<%s>" % self.current]
        elif self.kind == "hex":
            out += ["BIOS Default\t=%s " % self.default, "Value\t=" + self.current]
        elif self.kind == "str":
            out.append('Value\t="%s"' % self.current)
        if self.commented:
            out = [("//" if l.startswith(" ") else "// ") + l if l else l for l in out]
        return out + [""]


def long_help(topic, bits):
    text = "Please input HEX value.    %s    " % topic
    for i in range(bits):
        text += "Bit%d - %s lane group %d   '0' Keep the setting of the module   '1' Apply override  " % (
            i, topic.split()[0], i)
    return text


def machine():
    qs = []
    add = qs.append
    # Boot and system.
    add(Q("Reset NVRAM", "bool", default="0", help="Set this option to reset NVRAM to default values"))
    add(Q("System Language", options=[("00", "en-US"), ("01", "fr-FR"), ("02", "de-DE"),
                                      ("03", "es-ES"), ("04", "ja-JP"), ("05", "zh-CN")],
          width="02", no_default=True, indent="\t\t", comment=False))
    add(Q("Quiet Boot", help="Enables or disables Quiet Boot option"))
    add(Q("Fast Boot", help="Enables or disables boot with initialization of a minimal set of devices required to launch active boot option. Has no effect for BBS boot options."))
    add(Q("Bootup NumLock State", options=[("00", "On"), ("01", "Off")]))
    add(Q("Boot Logo Display", options=[("00", "Auto"), ("01", "Full Screen"), ("02", "Center"), ("03", "Disabled")]))
    add(Q("Setup Prompt Timeout", "dec", default="1", width="02",
          help="Number of seconds to wait for setup activation key. 65535(0xFFFF) means indefinite waiting."))
    add(Q("Boot Mode Select", options=[("00", "Legacy"), ("01", "UEFI"), ("02", "Legacy+UEFI")], default="01"))
    boot = [("0000", "UEFI Hard Disk"), ("0001", "UEFI USB Key"), ("0002", "UEFI Network"),
            ("0003", "UEFI CD/DVD"), ("FFFF", "Disabled")]
    for i in range(4):
        add(Q("Boot Option #%d" % (i + 1), options=boot, default=boot[i][0], width="02",
              help="Sets the system boot order"))
    add(Q("Secure Boot", help="Secure Boot feature is Active if Secure Boot is Enabled, Platform Key(PK) is enrolled and the System is in User mode. The mode change requires platform reset"))
    add(Q("Secure Boot Mode", options=[("00", "Standard"), ("01", "Custom")]))
    add(Q("Board Revision", options=[("00", "A0"), ("01", "B0"), ("02", "C0"), ("02", "C1")],
          no_default=True, help="0-A0, 1-B0, 2-C0 and C1"))
    # Processor.
    add(Q("Virtualization Technology", default="01"))
    for name in ["Hardware Prefetcher", "Adjacent Cache Line Prefetch", "Core Performance Boost",
                 "Execute Disable Bit", "Machine Check", "Monitor/Mwait", "Thermal Monitor",
                 "Enhanced Halt State (C1E)", "Energy Efficient Turbo", "Race To Halt (RTH)"]:
        add(Q(name, default="01", help="Enables or disables " + name + "."))
    add(Q("Active Processor Cores", options=[("00", "All")] + [("%02X" % i, str(i)) for i in range(1, 8)]))
    add(Q("CPU C-States", options=[("00", "Disabled"), ("01", "Enabled"), ("02", "Auto")], default="02"))
    add(Q("Package C State Limit", options=[("00", "C0/C1"), ("01", "C2"), ("02", "C3"), ("03", "C6"),
                                            ("07", "Auto")], default="07"))
    add(Q("CPU temperature Warning Control", options=[("00", "Disabled"), ("55", "85" + DEG),
                                                      ("5A", "90" + DEG), ("5F", "95" + DEG), ("64", "100" + DEG)],
          help="Sets the temperature warning for CPU. When CPU reaches the temperature, a warning message will show"))
    for name, d in [("Power Limit 1", "0"), ("Power Limit 1 Time Window", "28"), ("Power Limit 2", "0")]:
        add(Q(name, "dec", default=d, width="02", help=name + " in Watts. 0 means use the factory-configured value."))
    add(Q("Turbo Ratio Limit", "hex", default="FFFFFFFF", width="04"))
    for hi, lo in [(255, 192), (191, 128), (127, 64), (63, 0)]:
        add(Q("  Firmware Hash [%d:%d]" % (hi, lo), "hex", width="08",
              help="Firmware hash bits %d to %d (HEX)" % (hi, lo)))
    # Memory.
    add(Q("Memory Frequency", width="02", options=[("0000", "Auto"), ("0640", "1600 MHz"), ("0856", "2133 MHz"),
                                                   ("0960", "2400 MHz"), ("0A6A", "2666 MHz"),
                                                   ("0BB8", "3000 MHz"), ("0C80", "3200 MHz")]))
    add(Q("Memory Size Limit", width="04", options=[("000000", "No Limit"), ("004000", "16 GB"),
                                                    ("008000", "32 GB"), ("010000", "64 GB")]))
    for name in ["CAS Latency (tCL)", "tRCD", "tRP", "tRAS", "tRFC", "tWR", "tRTP", "tFAW"]:
        add(Q(name, "dec", default="0", width="02", help=name + " in clocks; 0: Auto"))
    add(Q("Command Rate", options=[("00", "Auto"), ("01", "1T: one clock"), ("02", "2T: two clocks; safe")]))
    add(Q("DRAM Voltage", "dec", default="1200", width="02", help="DRAM voltage in mV"))
    add(Q("Memory Training Mode", options=[("00", "Fast (cached)"), ("01", "Full = every boot")]))
    # Graphics and PCI Express.
    add(Q("Primary Display", options=[("00", "Auto"), ("01", "IGD"), ("02", "PEG"), ("03", "PCI")]))
    add(Q("DVMT Pre-Allocated", options=[("01", "32M"), ("02", "64M"), ("03", "96M"), ("04", "128M"),
                                         ("F0", "4M"), ("FE", "60M")], default="02"))
    add(Q("Above 4G Decoding", help="Enables or Disables 64bit capable Devices to be Decoded in Above 4G Address Space (Only if System Supports 64 bit PCI Decoding)."))
    add(Q("SR-IOV Support"))
    add(Q("Lane Configuration", options=[("00", "x16 = one slot"), ("01", "x8x8 = two slots; bifurcated"),
                                         ("02", "x8x4x4: three slots"), ("03", "Auto (by riser)")],
          default="03", help=long_help("Lane override of the graphics slot", 6)))
    add(Q("PCIe RP Location for IMR", options=[("01", "PCH PCIE"), ("02", "SA PCIE")], no_default=True,
          no_star=True, blank=True, help="Select SA or PCH root port associated with IMR"))
    aspm = [("00", "Disabled"), ("01", "L0s"), ("02", "L1"), ("03", "L0sL1"), ("04", "Auto")]
    speed = [("00", "Auto"), ("01", "Gen1"), ("02", "Gen2"), ("03", "Gen3"), ("04", "Gen4")]
    for port in range(8):
        add(Q("PCI Express Root Port", default="01", help="Control the PCI Express Root Port."))
        add(Q("ASPM", options=aspm, default="04", help="Set the ASPM Level: Force L0s - Force all links to L0s State  AUTO - BIOS auto configure  DISABLE - Disables ASPM"))
        add(Q("L1 Substates", options=[("00", "Disabled"), ("01", "L1.1"), ("02", "L1.1 & L1.2")], default="02"))
        add(Q("PCIe Speed", options=speed, blank=(port == 5), help="Configure PCIe Speed"))
        add(Q("Hot Plug", help="PCI Express Hot Plug Enable/Disable"))
        add(Q("Active LTR", "hex", default="FFFFFFFF", width="04",
              help=long_help("Active LTR data exposed through ACPI", 8) if port == 0 else
              "Expose Active LTR data through ACPI _DSM for OS driver to configure"))
        add(Q("Idle LTR", "hex", default="FFFFFFFF", width="04",
              help="Expose Idle LTR data through ACPI _DSM for OS driver to configure"))
    for port in ("HS00.PRT0", "HS01.PRT1"):
        add(Q("  ACPI Path Name", "str", default="\\_SB.PC00.XHCI.RHUB." + port, width="60",
              help="ACPI Path Name.    The default value is: \\_SB.PC00.XHCI.RHUB." + port))
    add(Q("Custom HID", "str", default="", width="28"))
    add(Q("Asset Tag", "str", default="", width="40", help="Free text kept for the owner's inventory"))
    for addr in ("1A", "2C"):
        add(Q("  I2C Address", "hex", default=addr, width="02", help="I2C Address"))
    add(Q(" Discrete Audio Offload Link", "empty", options=[("00", "  SSP #0")],
          help="  Selects used SSP port for the discrete audio offload"))
    # Storage.
    add(Q("SATA Controller(s)", default="01"))
    add(Q("SATA Mode Selection", options=[("00", "AHCI"), ("01", "RAID")]))
    for port in range(6):
        add(Q("Port", default="01", help="Enable or Disable SATA Port"))
        add(Q("Hot Plug", help="Designates this port as Hot Pluggable."))
        add(Q("Spin Up Device", help="If enabled for any of ports Staggered Spin Up will be performed"))
        add(Q("SATA Device Type", options=[("00", "Hard Disk Drive"), ("01", "Solid State Drive")]))
    # USB.
    add(Q("Legacy USB Support", options=[("00", "Enabled"), ("01", "Disabled"), ("02", "Auto")]))
    add(Q("XHCI Hand-off", default="01"))
    add(Q("USB Mass Storage Driver Support", default="01"))
    for port in range(12):
        add(Q("USB Port", default="01", help="Enable/Disable this USB port"))
    # Power and wake.
    add(Q("Restore AC Power Loss", options=[("00", "Power Off"), ("01", "Power On"), ("02", "Last State")]))
    add(Q("ErP Ready", help="Disable resume events for the lowest standby power (ErP)"))
    add(Q("Wake on LAN"))
    add(Q("Wake System from S5 via RTC", help="Enable or disable System wake on alarm event. When enabled, System will wake on the hr::min::sec specified"))
    for name in ("Wake up hour", "Wake up minute", "Wake up second"):
        add(Q(name, "dec", default="0", help="Select 0-23 For example enter 3 for 3am and 15 for 3pm" if "hour" in name else name))
    add(Q("Deep Sleep", options=[("00", "Disabled"), ("01", "Enabled in S5"), ("02", "Enabled in S4 and S5")]))
    add(Q("Power Button Function", options=[("00", "Instant Off"), ("01", "4 Seconds Override")]))
    # Hardware monitor.
    step = [("%02X" % i, "%d.%d s" % (i // 10, i % 10)) for i in range(0, 8)]
    for fan in range(4):
        add(Q("Fan Control Mode", options=[("00", "Manual"), ("01", "Auto"), ("02", "Full Speed (100%)")], default="01"))
        add(Q("Fan Start Temperature", "dec", default="40", help="Temperature in " + DEG + " at which the fan starts"))
        add(Q("Fan Full Speed Temperature", "dec", default="75"))
        add(Q("Fan Start PWM", "dec", default="60", help="PWM duty (0-255) at the start temperature"))
        add(Q("Fan Step Up Time", options=step, default="03"))
    add(Q("CPU Shutdown Temperature", options=[("00", "Disabled"), ("4B", "75" + DEG), ("50", "80" + DEG),
                                               ("55", "85" + DEG), ("5A", "90" + DEG)], default="5A"))
    # Security.
    for name in ["Security Device Support", "SHA-1 PCR Bank", "SHA256 PCR Bank", "Platform Hierarchy",
                 "Storage Hierarchy", "Endorsement Hierarchy", "Physical Presence Spec Version"]:
        add(Q(name, default="01"))
    add(Q("Pending operation", options=[("00", "None"), ("01", "TPM Clear")]))
    add(Q("Country Override", "hex", default="0", width="02", help=long_help("Country override of the wireless module", 12)))
    add(Q("Debug Mode Options", "hex", default="0", width="04", help=long_help("Debug output selection", 9)))
    # Chipset features (many look alike, as on real boards).
    for name in ["Serial Port", "Parallel Port", "Onboard LAN Controller", "Onboard Audio Controller",
                 "HD Audio Codec Power Management", "Front Panel Audio Jack Detection", "CSM Support",
                 "Network Stack", "IPv4 PXE Support", "IPv6 PXE Support", "IPv4 HTTP Support",
                 "IPv6 HTTP Support", "PXE boot wait time", "Media detect count", "Serial Console Redirection",
                 "Legacy Console Redirection", "Terminal Type Override", "Watchdog Timer",
                 "Spread Spectrum", "PCH Energy Reporting", "PCH LAN Wake", "Onboard Wi-Fi",
                 "Onboard Bluetooth", "Bluetooth Sideband", "SMART Self Test", "NVMe RAID mode",
                 "Aggressive LPM Support", "SATA Port Multiplier", "Intelligent Cache Acceleration",
                 "RGB LED Lighting", "Power LED in Sleep", "Chassis Intrusion", "Speaker Beep",
                 "Boot Error Log", "Memory Error Log", "Hardware Error Injection", "Processor Trace",
                 "Debug Interface", "Debug Interface Lock", "Three Strike Counter", "BIST",
                 "AP Threads Idle Manner", "AES-NI", "Total Memory Encryption", "Software Guard Extensions",
                 "Boot Performance Mode", "Turbo Mode", "Dual Tau Boost", "Ring Down Bin",
                 "GT RC6 Control", "Panel Self Refresh", "Display Wake", "Low Power S0 Idle Capability",
                 "ACPI Sleep State", "S3 Video Repost", "ACPI Debug", "Native PCIE Enable",
                 "Native ASPM", "PTID Support", "BDAT ACPI Table Support"]:
        add(Q(name, default="00"))
    for name in ["Boot Block Update", "Memory Remap", "Max TOLUD Dynamic", "C6DRAM", "EIST",
                 "Hardware P-States", "Platform Ready Mode", "Thermal Velocity Boost", "Platform PL1 Enable",
                 "PL2 Override", "PECI", "Memory Thermal Management", "Fast Boot Memory Check",
                 "Enable RH Prevention", "Exit On Failure", "Scrambler", "Force ColdReset",
                 "Channel Hash Support", "Lock PCU Thermal Management Registers", "Fan Fault Alarm"]:
        add(Q(name, "bool", default="1" if len(name) % 2 else "0"))
    return qs


COMMENTED = {  # name of the question after which a commented-out block stands -> its questions
    "Quiet Boot": [Q("Output Select", options=[("00", "DP7")]), Q("Output Select", options=[("00", "DP7"), ("01", "Unknown Device")])],
    "Power Limit 2": [Q("External 32kHz Clock", options=[("00", "Not Valid"), ("01", "Valid")])],
    "SR-IOV Support": [Q("Output Select", options=[("00", "DP7"), ("01", "Unknown Device"), ("02", "Unknown Device")])],
    "XHCI Hand-off": [Q("USB Debug Port", "bool")],
    "Deep Sleep": [Q("Wake on Ring"), Q("Wake on PS/2 Keyboard", options=[("00", "Disabled"), ("01", "Any Key"), ("02", "Hot Key")])],
    "Pending operation": [Q("TPM 1.2 Compatibility", "dec", default="0")],
    "Native ASPM": [Q("Legacy Game Compatibility Mode"), Q("Output Select", options=[("00", "DP7"), ("01", "Unknown Device")])],
}


def number(qs):
    token, offset = 0x10, 0
    for q in qs:
        q.token, q.offset = "%02X" % token, "%02X" % offset
        token += 1 + (token % 3 == 0)
        offset += int(q.width, 16) if q.kind != "str" else 0x60


def render(qs, header):
    lines, token = header[:], 0x2F00
    for q in qs:
        lines += q.lines()
        for c in COMMENTED.get(q.name, []):
            c.token, c.offset, c.commented = "%X" % token, q.offset, True
            token += 1
            lines += c.lines()
    return "".join(l + "\r\n" for l in lines).encode("latin-1")


def header(name, date, crc):
    return ["// Script File Name : " + name, "// Created on %s    " % date,
            "// Setup script of the simulated XB platform",
            '// Move "*" to change an option; change the text after "Value" to change a number\r',
            "HIICrc32= %s\r" % crc, ""]


def find(qs, name, nth=0):
    return [q for q in qs if q.name == name][nth]


def user_changes(qs, rng):
    """The old machine's user changed some settings."""
    for name, nth, value in [("Fast Boot", 0, "01"), ("Boot Mode Select", 0, "02"), ("ASPM", 2, "02"),
                             ("PCIe Speed", 1, "03"), ("Hot Plug", 9, "01"), ("Memory Frequency", 0, "0C80"),
                             ("Setup Prompt Timeout", 0, "5"), ("Fan Start Temperature", 1, "45"),
                             ("Wake on LAN", 0, "01"), ("Restore AC Power Loss", 0, "02"),
                             ("Boot Option #1", 0, "0001"), ("Boot Option #2", 0, "0000"),
                             ("Turbo Ratio Limit", 0, "2A2A2C2C"), ("Memory Size Limit", 0, "008000"),
                             ("CPU temperature Warning Control", 0, "5A"), ("Fan Fault Alarm", 0, "1"),
                             ("Power Limit 1", 0, "4500"), ("Custom HID", 0, "INT33D5"),
                             ("  ACPI Path Name", 1, "\\_SB.PC00.XHCI.RHUB.HS05.PRT5"),
                             ("Asset Tag", 0, "Rack 4/Slot 12 [A] 50%")]:
        find(qs, name, nth).current = value
    plain = [q for q in qs if q.kind == "opt" and q.options == EN_DIS and q.current == "00"
             and q.name not in ("Quiet Boot", "Secure Boot")]
    for q in rng.sample(plain, 12):
        q.current = "01"


def new_release(qs):
    """Release XB0A13: everything at its default, with these changes."""
    for name in ("Power Button Function", "SHA-1 PCR Bank"):
        qs.remove(find(qs, name))
    qs.remove(find(qs, "USB Port", 11))
    for q in (find(qs, "Secure Boot"), find(qs, "Secure Boot Mode")):
        qs.remove(q)
        qs.insert(qs.index(find(qs, "Pending operation")) + 1, q)
    q = find(qs, "Primary Display")
    qs.remove(q)
    qs.insert(qs.index(find(qs, "SR-IOV Support")) + 1, q)
    new = [("Memory Frequency", Q("Memory Context Restore", default="01", help="Skip memory training on warm boots when the memory configuration is unchanged")),
           ("Above 4G Decoding", Q("Re-Size BAR Support")),
           ("ErP Ready", Q("Power Loading", options=[("00", "Auto"), ("01", "Disabled"), ("02", "Enabled")])),
           ("CPU Shutdown Temperature", Q("Thermal Throttling Level", "dec", default="95"))]
    token, offset = 0x1000, 0x800
    for after, q in new:
        q.token, q.offset = "%X" % token, "%X" % offset
        token, offset = token + 1, offset + 1
        qs.insert(qs.index(find(qs, after)) + 1, q)
    for name, value in [("Above 4G Decoding", "01"), ("ErP Ready", "01"), ("Setup Prompt Timeout", "3"),
                        ("CPU C-States", "01"), ("Deep Sleep", "01"), ("DRAM Voltage", "1350")]:
        find(qs, name).default = value
    find(qs, "Restore AC Power Loss").options.append(("03", "Follow Previous State"))
    for q in qs:
        if q.name == "PCIe Speed":
            q.options = q.options + [("05", "Gen5")]
        q.current = q.default


def variables():
    rng = random.Random(0x5EC)
    hexes = lambda data: " ".join("%02X" % b for b in data)
    pwd = bytes(32) + bytes(rng.randrange(256) for _ in range(32)) + bytes([1, 0])
    order = bytes([2, 0, 0, 0, 10, 0, 1, 0, 2, 0, 0, 0, 0x80, 0, 0, 0, 6, 0, 3, 0])
    sata = bytes([4, 0, 0, 0, 0, 1, 2, 3])
    out = ["// UEFI variables of the simulated machine"]
    for name, guid, data in [("AMITSESetup", "c811fa38-42c8-4579-a9bb-60e94eddfb34", pwd),
                             ("FBOSetDevOrder", "0c923ca9-df73-4ac8-b6d2-98ddc30d99fc", order),
                             ("QZBBootSataNumDataGuid", "f67bdcdb-b493-49b7-9e01-bfa1294028ac", sata)]:
        out += ["[VARIABLE]", "VARIABLE_NAME = " + name, "VARIABLE_GUID = " + guid,
                "VARIABLE_DATA = " + hexes(data), ""]
    return "".join(l + "\r\n" for l in out).encode()


def main():
    qs = machine()
    number(qs)
    user_changes(qs, random.Random(12))
    files = {"settings.txt": render(qs, header("settings.txt", "12/08/25 at 09:30:00", "5EED0A12"))}
    new_release(qs)
    files["new-bios.txt"] = render(qs, header("new-bios.txt", "02/16/26 at 14:05:10", "7C3E0A13"))
    files["vars.txt"] = variables()
    files["version"] = b"XB0A12\n"
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
