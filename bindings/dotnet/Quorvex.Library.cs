// Quorvex.Library.cs - finding the native library before the first call, and saying where it was looked for
// when it is missing.
using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Xml;

namespace Quorvex
{
    /// <summary>The native Quorvex library could not be loaded.  Derives from DllNotFoundException, so that hosts
    /// that catch that still do; its message names the file and the places it was looked for.</summary>
    public sealed class QuorvexLibraryNotFoundException : DllNotFoundException
    {
        /// <summary>The file the runtime looked for: Quorvex.dll, libquorvex.so or libquorvex.so.0.</summary>
        public string FileName { get; }
        /// <summary>The folders looked in, in order, before the system's own search.</summary>
        public IList<string> Searched { get; }

        internal QuorvexLibraryNotFoundException(string fileName, IList<string> searched, Exception inner)
            : base("the native Quorvex library " + fileName + " could not be loaded; looked in "
                + string.Join(", ", searched) + ". " + Advice(fileName) + " (" + inner.Message + ")", inner)
        {
            FileName = fileName;
            Searched = searched;
        }

        static string Advice(string fileName) =>
            fileName == Library.WindowsFile
                ? "Put the DLL of the program's width (x86 or x64) beside the program or in its x86/x64 folder."
                : "Install the library, or name its folder in LD_LIBRARY_PATH.";
    }

    /// <summary>Loads the native library once, before the first call through <see cref="Client"/> or a
    /// <see cref="Session"/>.  On Windows it loads Quorvex.dll of the process's width from the assembly's
    /// x86/ or x64/ folder (where the package's build targets copy both for AnyCPU projects) or from
    /// runtimes/win-x86|win-x64/native/ beside it or in the package it was referenced from (lib/net46/../..),
    /// so that the imports find it already loaded.</summary>
    public static class Library
    {
        internal const string WindowsFile = "Quorvex.dll";
        static readonly object gate = new object();
        static volatile bool loaded;

        static bool IsWindows => Environment.OSVersion.Platform == PlatformID.Win32NT;
        static string Width => IntPtr.Size == 8 ? "x64" : "x86";
        static string AssemblyFolder => Path.GetDirectoryName(typeof(Library).Assembly.Location) ?? "";

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        /// <summary>Loads the library unless it is loaded.</summary>
        /// <exception cref="QuorvexLibraryNotFoundException">It is missing; nothing is remembered, so that a later
        /// call tries again.</exception>
        public static void Ensure()
        {
            if (loaded) return;
            lock (gate)
            {
                if (loaded) return;
                var searched = new List<string>();
                if (IsWindows) Preload(searched);
                try
                {
                    int state, path, protocol, code;
                    Native.GetConnectionState(out state, out path, out protocol, out code);
                }
                catch (DllNotFoundException e)
                {
                    throw new QuorvexLibraryNotFoundException(FileName(), Places(searched), e);
                }
                loaded = true;
            }
        }

        // For expression-bodied wrappers: loads the library (or throws) and is true.
        internal static bool Loaded
        {
            get
            {
                Ensure();
                return true;
            }
        }

        static void Preload(List<string> searched)
        {
            foreach (var folder in new[] {
                Path.Combine(AssemblyFolder, Width),
                Path.Combine(AssemblyFolder, "runtimes", "win-" + Width, "native"),
                Path.Combine(AssemblyFolder, "..", "..", "runtimes", "win-" + Width, "native") })
            {
                searched.Add(folder);
                var file = Path.Combine(folder, WindowsFile);
                if (File.Exists(file) && LoadLibraryW(file) != IntPtr.Zero) return;
            }
        }

        // The file the imports name: Mono's dllmap in the assembly's .config may point them elsewhere.
        static string FileName()
        {
            if (IsWindows) return WindowsFile;
            try
            {
                var config = new XmlDocument();
                config.Load(typeof(Library).Assembly.Location + ".config");
                var map = config.SelectSingleNode("/configuration/dllmap[@dll='quorvex']/@target");
                if (map != null) return map.Value;
            }
            catch (Exception e) when (e is IOException || e is XmlException || e is UnauthorizedAccessException) { }
            return "libquorvex.so";
        }

        static IList<string> Places(List<string> searched)
        {
            var places = new List<string>(searched);
            places.Add(AssemblyFolder);
            var program = AppDomain.CurrentDomain.BaseDirectory;
            if (!string.IsNullOrEmpty(program) && Path.GetFullPath(program).TrimEnd('/', '\\') != AssemblyFolder)
                places.Add(program);
            if (IsWindows)
                places.Add("the system's DLL search path (PATH)");
            else
            {
                var ld = Environment.GetEnvironmentVariable("LD_LIBRARY_PATH");
                places.Add(string.IsNullOrEmpty(ld) ? "LD_LIBRARY_PATH (unset)" : "LD_LIBRARY_PATH (" + ld + ")");
                places.Add("the system's library path");
            }
            return places;
        }
    }
}
