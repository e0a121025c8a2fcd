# Stages the module and packs it with fixed times, modes and order, so that
# the same inputs give the same zip. With a release host (RELEASE_URL, https),
# module.prop names the host's update.json, and RELEASE_DIR gets what the host
# serves: the zip, update.json and CHANGELOG.md; without one, no updateJson line
# and no RELEASE_DIR. update.json is the root managers' update format (Magisk's
# ModuleJson, KernelSU's ModuleViewModel.checkUpdate): version, versionCode as
# an integer, zipUrl and changelog as URLs; a manager offers the zip when its
# versionCode is above the installed one's.
#   cmake -DSOURCE=package -DVERSION=X.Y.Z [-DRELEASE_URL=https://... -DCHANGELOG=FILE]
#         -DRELEASE_DIR=DIR -DVMKD=... -DCALMD=... -DVMKTRACE=... -DVMKCTL=...
#         -DSTAGE=DIR -DZIP=FILE -P make_module.cmake

# versionCode from the version: major * 10000 + minor * 100 + patch, so minor
# and patch stay below 100 and each is written one way (no leading zero), or
# two versions would share a code; and it fits the managers' 32-bit Int.
if(NOT VERSION MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]?)\\.(0|[1-9][0-9]?)$")
  message(FATAL_ERROR "version ${VERSION}: MAJOR.MINOR.PATCH with minor and patch from 0 to 99, "
                      "no leading zeros, or two versions would get the same versionCode")
endif()
if(CMAKE_MATCH_1 GREATER 214747)
  message(FATAL_ERROR "version ${VERSION}: a major version above 214747 gives a versionCode over 2^31 - 1")
endif()
math(EXPR VERSION_CODE "${CMAKE_MATCH_1} * 10000 + ${CMAKE_MATCH_2} * 100 + ${CMAKE_MATCH_3}")

get_filename_component(zip_name ${ZIP} NAME)
if(RELEASE_URL)
  # The URLs go into module.prop's one line and into JSON strings unescaped,
  # and a manager installs the zip as root: https only, no quotes, blanks or
  # backslashes.
  if(NOT RELEASE_URL MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?(/[A-Za-z0-9._~/@!&()*+,=%-]*)?$")
    message(FATAL_ERROR "release host ${RELEASE_URL}: https://HOST[:PORT][/PATH] of plain characters (no quotes, "
                        "blanks, backslashes, query or fragment)")
  endif()
  if(NOT RELEASE_DIR)
    message(FATAL_ERROR "a release host needs RELEASE_DIR, the folder of what it serves")
  endif()
  string(REGEX REPLACE "/+$" "" host "${RELEASE_URL}")
  file(READ ${CHANGELOG} changelog)
  string(REPLACE "." "\\." heading "## v${VERSION}")
  if(NOT changelog MATCHES "(^|\n)${heading}\n")
    message(FATAL_ERROR "${CHANGELOG} has no section \"## v${VERSION}\" for this release")
  endif()
endif()

file(REMOVE_RECURSE ${STAGE} ${RELEASE_DIR})
set(exec OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(plain OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
configure_file(${SOURCE}/module.prop.in ${STAGE}/module.prop @ONLY)
if(RELEASE_URL)
  file(APPEND ${STAGE}/module.prop "updateJson=${host}/update.json\n")
endif()
file(CHMOD ${STAGE}/module.prop PERMISSIONS ${plain})
file(COPY ${VMKD} ${CALMD} ${VMKTRACE} ${VMKCTL} DESTINATION ${STAGE}/bin FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/service.sh ${SOURCE}/uninstall.sh ${SOURCE}/action.sh ${SOURCE}/control.sh
     DESTINATION ${STAGE} FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/customize.sh ${SOURCE}/daemons.sh DESTINATION ${STAGE} FILE_PERMISSIONS ${plain})
file(COPY ${SOURCE}/webroot/index.html ${SOURCE}/webroot/style.css ${SOURCE}/webroot/app.js
     DESTINATION ${STAGE}/webroot FILE_PERMISSIONS ${plain})
set(installer META-INF/com/google/android)
file(COPY ${SOURCE}/${installer}/update-binary DESTINATION ${STAGE}/${installer} FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/${installer}/updater-script DESTINATION ${STAGE}/${installer} FILE_PERMISSIONS ${plain})
set(entries
  META-INF/com/google/android/update-binary
  META-INF/com/google/android/updater-script
  action.sh
  bin/calmd
  bin/vmkctl
  bin/vmkd
  bin/vmktrace
  control.sh
  customize.sh
  daemons.sh
  module.prop
  service.sh
  uninstall.sh
  webroot/app.js
  webroot/index.html
  webroot/style.css)
file(REMOVE ${ZIP})
# Info-ZIP with -X stores no owner or extra times, only the (fixed) modification time.
execute_process(COMMAND touch -h -d "2020-01-01 00:00:00 UTC" ${entries} WORKING_DIRECTORY ${STAGE})
execute_process(COMMAND env TZ=UTC zip -X -q -9 ${ZIP} ${entries}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "packing ${ZIP} failed")
endif()

if(RELEASE_URL)
  file(COPY ${ZIP} DESTINATION ${RELEASE_DIR})
  configure_file(${CHANGELOG} ${RELEASE_DIR}/CHANGELOG.md COPYONLY)
  file(WRITE ${RELEASE_DIR}/update.json
       "{\n"
       "  \"version\": \"v${VERSION}\",\n"
       "  \"versionCode\": ${VERSION_CODE},\n"
       "  \"zipUrl\": \"${host}/${zip_name}\",\n"
       "  \"changelog\": \"${host}/CHANGELOG.md\"\n"
       "}\n")
endif()
