// The .NET binding's host of the bindings benchmark: Session.Heartbeat in a
// loop.  host.exe PORT CALLS ROUNDS prints the median of the rounds' time
// per call, in nanoseconds.
using System;
using System.Diagnostics;
using Quorvex;

static class Host
{
    static int Main(string[] args)
    {
        int port = int.Parse(args[0]), calls = int.Parse(args[1]), rounds = int.Parse(args[2]);
        using (var session = new Session())
        {
            if (!session.TcpConnect("127.0.0.1", port, 5000, null, null, 0, null, null).Ok) return 1;
            for (int i = 0; i < calls; i++) session.Heartbeat();  // warm-up
            var times = new double[rounds];
            for (int r = 0; r < rounds; r++)
            {
                var watch = Stopwatch.StartNew();
                for (int i = 0; i < calls; i++)
                    if (!session.Heartbeat()) return 1;
                times[r] = watch.Elapsed.TotalMilliseconds * 1e6 / calls;
            }
            Array.Sort(times);
            Console.WriteLine(times[rounds / 2].ToString("F1", System.Globalization.CultureInfo.InvariantCulture));
        }
        return 0;
    }
}
