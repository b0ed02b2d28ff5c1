#!/usr/bin/python3
# An RTSP server on 127.0.0.1 for the network camera tests: a test picture as
# motion JPEG over RTP, at rtsp://127.0.0.1:PORT/test. Prints "ready PORT".
import sys
import gi
gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import Gst, GstRtspServer, GLib

Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(sys.argv[1] if len(sys.argv) > 1 else "0")
factory = GstRtspServer.RTSPMediaFactory()
factory.set_launch("( videotestsrc pattern=ball is-live=true ! video/x-raw,format=I420,width=320,height=240,"
                   "framerate=10/1 "
                   "! jpegenc ! rtpjpegpay name=pay0 pt=26 )")
factory.set_shared(True)
server.get_mount_points().add_factory("/test", factory)
server.attach(None)
print("ready", server.get_bound_port(), flush=True)
GLib.MainLoop().run()
