#!/usr/bin/env bash
# Checks of the Windows zip cpack made in a Windows build (ctest -L release):
#   bash tests/release/zip.sh CHECK BUILD VERSION PROGRAM SOURCE
# BUILD is the build folder holding zubra32-VERSION-win64.zip and the winget
# and scoop manifests made with it, PROGRAM the zubra32.exe it was made from,
# SOURCE the source tree. CHECK is one of
#   contents          exactly the program, README.md, LICENSE, the report's
#                     schema, the example and SHA256SUMS in one folder, the
#                     files as in the source
#   checksums         SHA256SUMS names every other file and matches it
#   version_resource  the program's version resource, read back with exiftool
#   manifest          its application manifest, extracted with wrestool
#   aslr_dep          it is built for ASLR (with high entropy) and DEP
#   store_manifests   the winget and scoop manifests name this zip and its hash
#   help_under_wine   the program from the zip prints its help under wine (in
#                     the wine prefix of the tests, WINEPREFIX)
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: bash tests/release/zip.sh CHECK BUILD VERSION PROGRAM SOURCE" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
start_check zip "$@"

folder="zubra32-$version-win64"
zip="$build/$folder.zip"
need_package "$zip" "$program" "cpack -G ZIP --config $build/CPackConfig.cmake (bash tools/dev.sh release)"
need_tool unzip unzip
unzip -q "$zip" -d "$scratch"
unzipped="$scratch/$folder"
[ -d "$unzipped" ] || fail "the zip has no folder $folder"
exe="$unzipped/zubra32.exe"

case "$check" in
  contents)
    echo "== ${zip##*/}: $(stat -c %s "$zip") bytes"
    want=$(printf "$folder/%s\n" LICENSE README.md SHA256SUMS examples/ examples/autoexec.bat \
      examples/config.sys examples/startup.def report.schema.json zubra32.exe | sort)
    if [ "$(unzip -Z1 "$zip" | sort)" != "$want" ]; then
      unzip -Z1 "$zip" >&2
      fail "the zip does not hold exactly: $(tr '\n' ' ' <<<"$want")"
    fi
    for name in README.md LICENSE examples/startup.def examples/autoexec.bat examples/config.sys; do
      cmp -s "$source/$name" "$unzipped/$name" || fail "$name in the zip differs from the source's"
    done
    cmp -s "$source/doc/report.schema.json" "$unzipped/report.schema.json" ||
      fail "report.schema.json in the zip differs from the source's"
    echo "== zip holds $folder/ with the program, README.md, LICENSE, the report's schema and the example as in the source, and SHA256SUMS"
    ;;

  checksums)
    # In sha256sum's own format, over every other file of the zip.
    [ -f "$unzipped/SHA256SUMS" ] || fail "the zip has no SHA256SUMS"
    (cd "$unzipped" && sha256sum --check --strict --quiet SHA256SUMS) || fail "SHA256SUMS does not match the zip's files"
    if [ "$(cut -c 67- "$unzipped/SHA256SUMS" | sort)" != "$(cd "$unzipped" && find . -type f ! -name SHA256SUMS | cut -c 3- | sort)" ]; then
      fail "SHA256SUMS does not name every file of the zip"
    fi
    echo "== SHA256SUMS names every file of the zip and matches it"
    ;;

  version_resource)
    # As Windows shows it.
    need_tool exiftool libimage-exiftool-perl
    for name in FileVersionNumber:$version.0 ProductVersionNumber:$version.0 FileVersion:$version \
        ProductVersion:$version ProductName:Zubra32 OriginalFileName:zubra32.exe InternalName:zubra32 \
        "CompanyName:the Zubra32 developers" "FileDescription:Zubra32 : The Textfile Manipulator" \
        "LegalCopyright:Copyright (C) 2026 the Zubra32 developers, MIT licence"; do
      value=$(exiftool -s3 "-${name%%:*}" "$exe")
      [ "$value" = "${name#*:}" ] || fail "version resource: ${name%%:*} is \"$value\", not \"${name#*:}\""
    done
    echo "== version resource: $(exiftool -s3 -ProductName -FileVersion "$exe" | tr '\n' ' ')(exiftool $(exiftool -ver))"
    ;;

  manifest)
    # No elevation, Windows 7 to 11, no forced code page.
    need_tool wrestool icoutils
    wrestool -x --raw --type=24 "$exe" >"$scratch/manifest" || fail "zubra32.exe has no manifest"
    [ -s "$scratch/manifest" ] || fail "zubra32.exe has no manifest"
    grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$scratch/manifest" ||
      fail "the manifest does not run the program asInvoker"
    for want in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
        1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
      grep -q "<supportedOS Id=\"{$want}\"/>" "$scratch/manifest" || fail "the manifest lacks supportedOS $want"
    done
    ! grep -q -i 'activeCodePage' "$scratch/manifest" || fail "the manifest forces an active code page"
    grep -q "version=\"$version.0\"" "$scratch/manifest" || fail "the manifest's assembly version is not $version.0"
    echo "== manifest: asInvoker, supportedOS Windows 7, 8, 8.1, 10/11, no active code page"
    ;;

  aslr_dep)
    need_tool x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64
    output=$(x86_64-w64-mingw32-objdump -p "$exe")
    for name in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
      grep -q "^[[:space:]]*$name\$" <<<"$output" || fail "zubra32.exe is not marked $name"
    done
    echo "== zubra32.exe: DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT"
    ;;

  store_manifests)
    sha=$(sha256sum "$zip" | cut -d ' ' -f 1)
    check_line() { # file, line that must be in it
      [ -f "$build/$1" ] || fail "no $1 beside the zip"
      grep -q -x -F -- "$2" "$build/$1" || fail "$1 lacks the line: $2"
    }
    check_line scoop/zubra32.json "    \"version\": \"$version\","
    check_line scoop/zubra32.json "            \"hash\": \"$sha\","
    check_line scoop/zubra32.json "            \"extract_dir\": \"$folder\""
    grep -q -x "            \"url\": \"https\?://[^\"]*/$folder\.zip\"," "$build/scoop/zubra32.json" ||
      fail "scoop/zubra32.json does not point at $folder.zip"
    for name in Zubra32.Zubra32.yaml Zubra32.Zubra32.installer.yaml Zubra32.Zubra32.locale.en-US.yaml; do
      check_line "winget/$name" "PackageVersion: $version"
    done
    check_line winget/Zubra32.Zubra32.installer.yaml "  InstallerSha256: ${sha^^}"
    check_line winget/Zubra32.Zubra32.installer.yaml "- RelativeFilePath: $folder\\zubra32.exe"
    grep -q -x "  InstallerUrl: https\?://.*/$folder\.zip" "$build/winget/Zubra32.Zubra32.installer.yaml" ||
      fail "the winget manifest does not point at $folder.zip"
    need_tool perl perl
    perl -MJSON::PP -e 'local $/; JSON::PP->new->decode(<STDIN>)' <"$build/scoop/zubra32.json" ||
      fail "scoop/zubra32.json is no valid JSON"
    echo "== winget and scoop manifests name $folder.zip, sha256 $sha"
    ;;

  help_under_wine)
    need_tool wine wine
    [ -n "${WINEPREFIX:-}" ] || fail "no WINEPREFIX: run it through ctest, which sets up the prefix"
    status=0
    output=$(cd "$unzipped" && wine ./zubra32.exe '/?' 2>/dev/null) || status=$?
    [ "$status" -eq 5 ] || fail "zubra32.exe /? from the zip ended with exit code $status, not 5"
    grep -q "^' Zubra32 v2.0 : The Textfile Manipulator"$'\r'"\$" <<<"$output" ||
      fail "zubra32.exe /? from the zip printed no help"
    echo "== zubra32.exe from the zip prints its help under wine, exit code 5"
    ;;

  *) fail "no check $check" ;;
esac
