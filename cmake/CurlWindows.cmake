# Placeholder until the static Schannel libcurl cross build lands: an empty interface target.
add_library(ombrel_curl INTERFACE)
