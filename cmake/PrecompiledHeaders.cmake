# Precompiled headers: the standard and Qt headers that nearly every source parses are compiled
# once per group of targets, by one target of the group (the holder), and the others reuse that
# result. Reusing needs the same compiler flags and the same values of every macro the headers
# look at, so the groups follow the flags: product code (QT_NO_CAST_FROM_ASCII) or test code,
# and QtCore alone or with the widgets. GCC says so (-Winvalid-pch) when a reuse does not fit.
option(BRENMOR_PCH "Compile the common standard and Qt headers once (precompiled headers)" ON)

set(BRENMOR_PCH_CORE
  <algorithm> <array> <functional> <memory> <optional> <utility> <variant> <vector>
  <QtCore/QByteArray> <QtCore/QCoreApplication> <QtCore/QDateTime> <QtCore/QDir>
  <QtCore/QFile> <QtCore/QFileInfo> <QtCore/QHash> <QtCore/QJsonArray> <QtCore/QJsonDocument>
  <QtCore/QJsonObject> <QtCore/QList> <QtCore/QObject> <QtCore/QProcess>
  <QtCore/QRegularExpression> <QtCore/QSet> <QtCore/QString> <QtCore/QStringList>
  <QtCore/QTimeZone> <QtCore/QTimer>)
set(BRENMOR_PCH_WIDGETS ${BRENMOR_PCH_CORE}
  <QtGui/QPainter> <QtWidgets/QApplication> <QtWidgets/QBoxLayout> <QtWidgets/QComboBox>
  <QtWidgets/QDialog> <QtWidgets/QLabel> <QtWidgets/QLineEdit> <QtWidgets/QPlainTextEdit>
  <QtWidgets/QPushButton> <QtWidgets/QScrollArea> <QtWidgets/QWidget>)

# brenmor_precompile(HOLDER HEADERS...): HOLDER compiles HEADERS for its group.
function(brenmor_precompile holder)
  if(BRENMOR_PCH)
    target_precompile_headers(${holder} PRIVATE ${ARGN})
  endif()
endfunction()

# brenmor_reuse_precompiled(HOLDER TARGETS...): TARGETS, compiled with HOLDER's flags, use its
# precompiled headers. Targets that are not defined in this build, or compile nothing, are
# passed over.
function(brenmor_reuse_precompiled holder)
  if(NOT BRENMOR_PCH)
    return()
  endif()
  foreach(target ${ARGN})
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      target_precompile_headers(${target} REUSE_FROM ${holder})
    endif()
  endforeach()
endfunction()
