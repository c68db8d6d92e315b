#pragma once
// Demo music: valid MP3 files of chosen lengths with ID3v2.3 tags and an embedded front cover, and the
// demo library the runner installs.
