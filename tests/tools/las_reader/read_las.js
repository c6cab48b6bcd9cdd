// Reads a LAS file with the copc package, an independent LAS reader, and
// prints what the tests compare as JSON: the header's counts, bounds and
// global encoding, the VLRs, the extra-bytes fields, and from the points
// themselves their count per class, their bounds and the first point.
'use strict';
const fs = require('fs');
const { Las } = require('copc');

async function main(path) {
  const file = fs.readFileSync(path);
  const header = Las.Header.parse(file.subarray(0, 375));
  const vlrs = await Las.Vlr.walk(path, header);
  const content = (vlr) => file.subarray(vlr.contentOffset, vlr.contentOffset + vlr.contentLength);
  const extraBytes = Las.ExtraBytes.parse(content(Las.Vlr.at(vlrs, 'LASF_Spec', 4)));
  const wkt = content(Las.Vlr.at(vlrs, 'LASF_Projection', 2112)).toString('latin1');
  const points = file.subarray(header.pointDataOffset,
    header.pointDataOffset + header.pointCount * header.pointDataRecordLength);
  const view = Las.View.create(points, header, extraBytes);
  const get = Object.fromEntries(Object.keys(view.dimensions).map((name) => [name, view.getter(name)]));
  const classes = {};
  const sources = {};
  const bounds = { X: [Infinity, -Infinity], Y: [Infinity, -Infinity], Z: [Infinity, -Infinity] };
  for (let i = 0; i < view.pointCount; ++i) {
    const c = get.Classification(i);
    classes[c] = (classes[c] || 0) + 1;
    const s = get.PointSourceId(i);
    sources[s] = (sources[s] || 0) + 1;
    for (const axis of ['X', 'Y', 'Z']) {
      const value = get[axis](i);
      bounds[axis] = [Math.min(bounds[axis][0], value), Math.max(bounds[axis][1], value)];
    }
  }
  const first = view.pointCount ? Object.fromEntries(Object.keys(get).map((name) => [name, get[name](0)])) : null;
  process.stdout.write(JSON.stringify({
    version: `${header.majorVersion}.${header.minorVersion}`,
    pointFormat: header.pointDataRecordFormat, recordLength: header.pointDataRecordLength,
    globalEncoding: header.globalEncoding, pointCount: header.pointCount,
    pointCountByReturn: header.pointCountByReturn, min: header.min, max: header.max,
    scale: header.scale, vlrs: vlrs.map((v) => `${v.userId}/${v.recordId}`), wkt,
    extraBytes: extraBytes.map((e) => [e.name, e.type, e.length]),
    viewCount: view.pointCount, classes, sources, bounds, first,
  }));
}

main(process.argv[2]).catch((error) => { console.error(error.message); process.exit(1); });
