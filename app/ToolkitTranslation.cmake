# The toolkit's Russian catalogue (qtbase_ru.qm) built into the program as a resource, so that the
# same file reaches the Linux and the Windows program and is loaded whatever the system's
# language (ToolkitTranslation.cpp). A .qm file is the same on every platform: it is taken from
# the build host's Qt translations (Debian: qt6-translations-l10n), also in the Windows cross
# build, whose own Qt is built without translations; hence never looked for under the cross root.
find_file(KV_QTBASE_RU_QM qtbase_ru.qm
          PATHS ${QT_HOST_PATH}/share/qt6/translations /usr/share/qt6/translations
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "The toolkit's Russian catalogue built into the program")
if(NOT KV_QTBASE_RU_QM)
    message(FATAL_ERROR
            "The toolkit's Russian catalogue qtbase_ru.qm was not found in "
            "/usr/share/qt6/translations: install the Debian package qt6-translations-l10n "
            "(tools/install-deps.sh), or give the file with -DKV_QTBASE_RU_QM=/path/qtbase_ru.qm")
endif()
set_source_files_properties(${KV_QTBASE_RU_QM} PROPERTIES QT_RESOURCE_ALIAS qtbase_ru.qm)
qt_add_resources(kvapp kvapp_toolkit_translation PREFIX /kv9000/translations
                 FILES ${KV_QTBASE_RU_QM})
