# Sourced by the Windows checks: the DLLs every Windows has, the only ones
# the programs may import, so that they run from a USB stick.
# Prints each DLL `exe` imports that is not one of them.
foreign_dlls() {
    local dll
    for dll in $(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' |
        tr 'A-Z' 'a-z' | sort -u); do
        case "$dll" in
            kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | gdiplus.dll | \
                shell32.dll | msvcrt.dll | advapi32.dll | setupapi.dll | ws2_32.dll) ;;
            *) echo "$dll" ;;
        esac
    done
}
