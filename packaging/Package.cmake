# CPack settings of the Debian package, built by `./dev package` (cpack -G DEB in build-package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenmor-ops)
set(CPACK_PACKAGE_VERSION ${BRENMOR_PRODUCT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brenmor Ops developers")
set(CPACK_PACKAGE_CONTACT "Brenmor Ops developers <ops@brenmor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep a computer doing scheduled work while its user is away")
# Installed with DESTDIR under the final prefix, so the install-time files (systemd unit,
# desktop entries) name /usr/... and the autostart entry lands in /etc/xdg.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${BRENMOR_PRODUCT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brenmor.example/ops")
# The synopsis is the summary above; these lines are the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Brenmor Ops turns shell commands into scheduled tasks: every N minutes, daily,
weekly, monthly, on the last day or the Nth weekday of the month, or at login,
optionally waking the computer before each run. It brings the desktop
application BrenmorOps and the command-line tool brenmor-ops, which share one
task file, and a per-user agent runner that starts the tasks while the user is
logged in.")
# Libraries through dpkg-shlibdeps; then what the programs and the commands they generate start
# at run time: zsh for the wrapper scripts (bash is essential, so never named), pkexec for
# administrator requests (bookworm's policykit-1 is only a transitional package for it), and
# for the mail step the Secret Service library, secret-tool and curl. A keyring answering the
# Secret Service is recommended.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "zsh, pkexec, libsecret-1-0, libsecret-tools, curl")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "dbus-user-session, gnome-keyring, qt6-wayland, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The autostart entry is the one file under /etc: a configuration file the administrator may
# change (for example to switch the runner off), which dpkg must then keep.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/debian/conffiles
  "/etc/xdg/autostart/brenmor-ops-agent-runner.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/debian/conffiles)
include(CPack)
