// Audio service: one music stream played on the default output, and its play
// position, which is the demo's timeline.
//
// What callers rely on (the six operations of the music clock):
//   AudioOpenOutput       open the default output at the given rate
//   AudioOpenStream       open a playable stream from an mp3 file
//   AudioStartOutput      start the output
//   AudioPlayFromStart    play the stream from its beginning
//   AudioPositionBytes    the position the listener hears, in bytes of the
//                         stream's decoded audio
//   AudioBytesToSeconds   such a byte count in seconds of music
//
// The position is monotonic and smooth between the device's buffer requests,
// it stays at 0 until both the output is started and the stream is playing,
// and it stays at the end once the music has ended. It counts seconds of
// music whatever the file's rate and channel count and whatever the device's.
//
// When no output device can be opened, or the file cannot be opened or
// decoded, the stream still exists and "plays" silently against the monotonic
// clock (to the file's length when that is known); one line on stderr says so.
//
// When the output device goes away while the show runs (a headset unplugged,
// a display taking its audio with it: a write or a position query fails, the
// system reports the device removed, or the device stops taking audio), the
// position carries on from where it stood on the monotonic clock, without a
// jump and without going back, and one line on stderr says so. Every couple
// of seconds the service tries the system's default output again; once one
// opens, the music goes on from the position then, in step with the picture.
// Pause, seek and resume work the same throughout.
#pragma once

#include <cstdint>

// Opens the default output device at this rate (44100 for the demo); false
// when there is none, in which case streams run silently.
bool AudioOpenOutput(int frequency);

// Opens the music file as a playable stream and returns its handle (never 0).
// There is one stream at a time: opening another replaces it. Open the output
// first: a stream opened without an output runs silently.
uint32_t AudioOpenStream(const char* path);

// Starts the output: from now on the device pulls audio.
void AudioStartOutput();

// Starts the stream from its beginning.
void AudioPlayFromStart(uint32_t stream);

// The position heard, in bytes of the stream's decoded audio (0 for an unknown
// handle).
uint64_t AudioPositionBytes(uint32_t stream);

// Bytes of the stream's decoded audio in seconds.
double AudioBytesToSeconds(uint32_t stream, uint64_t bytes);

// For working on a show: moving about in the music and holding it. None of
// these is part of a plain run. Each does nothing for an unknown handle.
//
// AudioPlayFrom: like AudioPlayFromStart, but from `seconds` into the music.
// AudioSeek: the music goes on from `seconds` (playing or paused as before);
//   the position reads that value at once, and when playing grows from it
//   once the device hears the new place. Backwards too: the position is
//   monotonic only between two seeks.
// AudioPause: the music stops where it is heard; the position stays there.
// AudioResume: the music goes on from where the position stands.
// Positions are clamped to 0 and to the music's length when it is known.
// A silent stream does all of this on its clock alone.
void AudioPlayFrom(uint32_t stream, double seconds);
void AudioSeek(uint32_t stream, double seconds);
void AudioPause(uint32_t stream);
void AudioResume(uint32_t stream);

// A grain of music for scrubbing: plays `length` seconds of the music from
// `seconds` while the stream is paused, without moving its position (the
// picture stays where it is). A new grain replaces one still playing; a seek,
// a resume or another stream ends it. Does nothing while the stream plays,
// for a silent stream, or without a device.
void AudioPlayGrain(uint32_t stream, double seconds, double length);

// Stops the device's thread (and, on Linux, the thread that looks for a new
// device after a loss, once its attempt under way returns) and frees the
// decoder, so that the process can end without either touching freed state. Registered with atexit by the
// first AudioOpenOutput or AudioOpenStream; safe to call more than once. After
// it, the service starts from scratch.
void ShutdownAudio();
