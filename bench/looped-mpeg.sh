# Sourced by the benchmarks that need a long MPEG program stream (DVD-like: MPEG-2 video at
# 15 Mbit/s, MP2 sound). The loop lasts 20.04 s, a whole number of both picture frames (501)
# and MP2 frames (835), so that its joins leave no gap in the sound's timestamps and the
# file is one long recording. (A 20 s loop left an 8 ms gap at each: such a file is decoded
# in one pass, since its samples do not lie where their times put them.)
#
#   looped_mpeg OUT TIMES DEST   makes DEST from OUT/loop-even.mpg played TIMES + 1 times,
#                                without re-encoding, unless DEST is already there
looped_mpeg() {
    local out=$1 times=$2 dest=$3
    [ -s "$dest" ] && return 0
    [ -s "$out/loop-even.mpg" ] ||
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=720x576:rate=25:d=20.04" \
            -f lavfi -i "sine=f=440:r=48000:d=20.04" -c:v mpeg2video -b:v 15M -maxrate 15M -bufsize 4M \
            -c:a mp2 -b:a 256k -f mpeg "$out/loop-even.mpg"
    ffmpeg -nostdin -hide_banner -loglevel error -y -stream_loop "$times" -i "$out/loop-even.mpg" -c copy \
        -f mpeg "$dest"
}
