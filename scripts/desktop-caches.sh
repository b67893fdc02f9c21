#!/usr/bin/env bash
# Brings the desktop's caches under PREFIX up to date after make install or make uninstall, as
# the Debian package's triggers do: the MIME types (so that a file manager knows PCG files),
# the desktop entries' MIME types and the icon theme. A tool that is missing is passed over.
prefix=${1:?prefix}
share="$prefix/share"
if command -v update-mime-database >/dev/null && [[ -d $share/mime/packages ]]; then
    update-mime-database "$share/mime"
fi
if command -v update-desktop-database >/dev/null && [[ -d $share/applications ]]; then
    update-desktop-database -q "$share/applications"
fi
if command -v gtk-update-icon-cache >/dev/null && [[ -f $share/icons/hicolor/index.theme ]]; then
    gtk-update-icon-cache -q -t "$share/icons/hicolor"
fi
exit 0
