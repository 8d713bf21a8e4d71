# The command-line program starts without the media libraries: libav*,
# libass, x264 and fontconfig pull in some 150 shared libraries whose
# loading and relocation cost every command tens of milliseconds and
# about 38 MB of memory, though most commands never use them. Their
# functions are defined in a generated file that loads the libraries at the
# first call, and --as-needed leaves them out of the program's own list.
# The tests and the desktop shell link them as usual.
option(ZV_LAZY_MEDIA "Load the media libraries of the zelvane program at their first use" ON)
find_program(ZV_AUX_INFO_CC NAMES gcc)
find_program(ZV_READELF NAMES readelf)
find_program(ZV_NM NAMES nm)
if(ZV_LAZY_MEDIA AND ZV_AUX_INFO_CC AND ZV_READELF AND ZV_NM AND NOT ZV_FUZZ)
  set(zv_lazy_c ${CMAKE_BINARY_DIR}/lazy_media.c)
  set(zv_lazy_archives zv_edit zv_model zv_subtitles zv_verify zv_graphics zv_bdnav zv_mux zv_records
                       zv_streams zv_chapters zv_udf zv_transcode zv_media zv_named zv_platform)
  set(zv_lazy_archive_files)
  foreach(a ${zv_lazy_archives})
    list(APPEND zv_lazy_archive_files $<TARGET_FILE:${a}>)
  endforeach()
  add_custom_command(OUTPUT ${zv_lazy_c}
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/scripts/gen-lazy-media ${zv_lazy_c}
      --cc ${ZV_AUX_INFO_CC}
      --headers libavformat/avformat.h libavcodec/avcodec.h libavcodec/bsf.h libavutil/audio_fifo.h
                libavutil/channel_layout.h libavutil/imgutils.h libavutil/pixdesc.h libavutil/samplefmt.h
                libavfilter/avfilter.h libavfilter/buffersink.h libavfilter/buffersrc.h
                libswresample/swresample.h libswscale/swscale.h ass/ass.h x264.h fontconfig/fontconfig.h
      --includes ${LIBAV_INCLUDE_DIRS} ${LIBASS_INCLUDE_DIRS} ${X264_INCLUDE_DIRS} ${AVFILTER_INCLUDE_DIRS}
      --libs ${LIBAV_LINK_LIBRARIES} ${AVFILTER_LINK_LIBRARIES} ${LIBASS_LINK_LIBRARIES} ${X264_LINK_LIBRARIES}
      --archives ${zv_lazy_archive_files}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen-lazy-media ${zv_lazy_archives}
    COMMENT "Generating the late loading of the media libraries"
    VERBATIM)
  target_sources(zelvane PRIVATE ${zv_lazy_c})
  if(CMAKE_C_COMPILER_ID STREQUAL "GNU")
    # The headers declare some pointers as arrays; the generated definitions
    # take them as the pointers they are.
    set_source_files_properties(${zv_lazy_c} PROPERTIES COMPILE_OPTIONS -Wno-array-parameter)
  endif()
  target_link_options(zelvane PRIVATE -Wl,--as-needed)
  target_link_libraries(zelvane PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
  set(ZV_LAZY_MEDIA_BUILT ON)
endif()
