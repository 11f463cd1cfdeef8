"""The rules of winget's manifest schemas, 1.12.0 (version, defaultLocale,
installer), as JSON Schema for the jsonschema module. Neither Debian nor npm
carries those schemas, so these were written from the public schema documents:
every property each manifest may hold (anything else is refused, as
`winget validate` refuses unknown fields), the patterns, enums and lengths of
the values, and the required properties. Properties that take an object or a
list this release never writes are held only by their type."""

from __future__ import annotations

U16 = r"(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])"
BAD = r"\\/:\*\?\"<>\|\x01-\x1f"
IDENTIFIER = {"type": "string", "maxLength": 128,
              "pattern": rf"^[^\.\s{BAD}]{{1,32}}(\.[^\.\s{BAD}]{{1,32}}){{1,7}}$"}
VERSION = {"type": "string", "maxLength": 128, "pattern": rf"^[^{BAD}]+$"}
LOCALE = {"type": "string", "maxLength": 20,
          "pattern": r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$"}
URL = {"type": "string", "maxLength": 2048, "pattern": r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$"}
MANIFEST_VERSION = {"type": "string", "pattern": rf"^{U16}(\.{U16}){{2}}$"}
SHA256 = {"type": "string", "pattern": r"^[A-Fa-f0-9]{64}$"}


def text(low: int, high: int) -> dict:
    return {"type": "string", "minLength": low, "maxLength": high}


def one_of(*values: str) -> dict:
    return {"type": "string", "enum": list(values)}


def strings(item: dict, most: int) -> dict:
    return {"type": "array", "items": item, "maxItems": most, "uniqueItems": True}


def closed(properties: dict, required: list[str]) -> dict:
    return {"type": "object", "properties": properties, "required": required,
            "additionalProperties": False}


ANY_OBJECT, ANY_ARRAY, FLAG = {"type": "object"}, {"type": "array"}, {"type": "boolean"}
RETURN_CODE = {"type": "integer", "not": {"enum": [0]}, "minimum": -2147483648,
               "maximum": 4294967295}
INSTALLER_TYPE = one_of("msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn",
                        "pwa", "portable", "font")
SWITCH = text(1, 512)
# Properties that the installer manifest takes both at its root and per installer.
INSTALLER_COMMON = {
    "InstallerLocale": LOCALE,
    "Platform": strings(one_of("Windows.Desktop", "Windows.Universal"), 2),
    "MinimumOSVersion": {"type": "string", "pattern": rf"^{U16}(\.{U16}){{0,3}}$"},
    "InstallerType": INSTALLER_TYPE,
    "NestedInstallerType": {"type": "string"},
    "NestedInstallerFiles": ANY_ARRAY,
    "Scope": one_of("user", "machine"),
    "InstallModes": strings(one_of("interactive", "silent", "silentWithProgress"), 3),
    "InstallerSwitches": closed({k: SWITCH for k in (
        "Silent", "SilentWithProgress", "Interactive", "InstallLocation", "Log", "Upgrade",
        "Repair")} | {"Custom": text(1, 2048)}, []),
    "InstallerSuccessCodes": strings(RETURN_CODE, 16),
    "ExpectedReturnCodes": {"type": "array", "maxItems": 128, "items": closed({
        "InstallerReturnCode": RETURN_CODE,
        "ReturnResponse": one_of(
            "packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse",
            "missingDependency", "diskFull", "insufficientMemory", "invalidParameter",
            "noNetwork", "contactSupport", "rebootRequiredToFinish", "rebootRequiredForInstall",
            "rebootInitiated", "cancelledByUser", "alreadyInstalled", "downgrade",
            "blockedByPolicy", "systemNotSupported", "custom"),
        "ReturnResponseUrl": URL}, ["InstallerReturnCode", "ReturnResponse"])},
    "UpgradeBehavior": one_of("install", "uninstallPrevious", "deny"),
    "Commands": ANY_ARRAY, "Protocols": ANY_ARRAY, "FileExtensions": ANY_ARRAY,
    "Dependencies": ANY_OBJECT,
    "PackageFamilyName": {"type": "string"},
    "ProductCode": text(1, 255),
    "Capabilities": ANY_ARRAY, "RestrictedCapabilities": ANY_ARRAY, "Markets": ANY_OBJECT,
    "InstallerAbortsTerminal": FLAG, "ReleaseDate": {"type": "string"},
    "InstallLocationRequired": FLAG, "RequireExplicitUpgrade": FLAG,
    "DisplayInstallWarnings": FLAG,
    "UnsupportedOSArchitectures": strings(one_of("x86", "x64", "arm", "arm64"), 4),
    "UnsupportedArguments": strings(one_of("log", "location"), 2),
    "AppsAndFeaturesEntries": {"type": "array", "maxItems": 128, "uniqueItems": True,
                               "items": closed({
                                   "DisplayName": text(1, 256), "Publisher": text(1, 256),
                                   "DisplayVersion": text(1, 128), "ProductCode": text(1, 255),
                                   "UpgradeCode": text(1, 255),
                                   "InstallerType": INSTALLER_TYPE}, [])},
    "ElevationRequirement": one_of("elevationRequired", "elevationProhibited", "elevatesSelf"),
    "InstallationMetadata": ANY_OBJECT, "DownloadCommandProhibited": FLAG,
    "RepairBehavior": one_of("modify", "uninstaller", "installer"),
    "ArchiveBinariesDependOnPath": FLAG, "Authentication": ANY_OBJECT,
}
HEAD = {"PackageIdentifier": IDENTIFIER, "PackageVersion": VERSION,
        "ManifestVersion": MANIFEST_VERSION}

SCHEMAS = {
    "winget-version": closed(HEAD | {"DefaultLocale": LOCALE,
                                     "ManifestType": {"const": "version"}},
                             ["PackageIdentifier", "PackageVersion", "DefaultLocale",
                              "ManifestType", "ManifestVersion"]),
    "winget-locale": closed(HEAD | {
        "PackageLocale": LOCALE, "Publisher": text(2, 256), "PublisherUrl": URL,
        "PublisherSupportUrl": URL, "PrivacyUrl": URL, "Author": text(2, 256),
        "PackageName": text(2, 256), "PackageUrl": URL, "License": text(3, 512),
        "LicenseUrl": URL, "Copyright": text(3, 512), "CopyrightUrl": URL,
        "ShortDescription": text(3, 256), "Description": text(3, 10000),
        "Moniker": text(1, 40), "Tags": strings(text(1, 40), 16), "Agreements": ANY_ARRAY,
        "ReleaseNotes": text(1, 10000), "ReleaseNotesUrl": URL, "PurchaseUrl": URL,
        "InstallationNotes": text(1, 10000), "Documentations": ANY_ARRAY, "Icons": ANY_ARRAY,
        "ManifestType": {"const": "defaultLocale"}},
        ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
         "License", "ShortDescription", "ManifestType", "ManifestVersion"]),
    "winget-installer": closed(HEAD | INSTALLER_COMMON | {
        "Channel": text(1, 16),
        "Installers": {"type": "array", "minItems": 1, "maxItems": 1024, "items": closed(
            INSTALLER_COMMON | {"Architecture": one_of("x86", "x64", "arm", "arm64", "neutral"),
                                "InstallerUrl": URL, "InstallerSha256": SHA256,
                                "SignatureSha256": SHA256},
            ["Architecture", "InstallerUrl", "InstallerSha256"])},
        "ManifestType": {"const": "installer"}},
        ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"]),
}
