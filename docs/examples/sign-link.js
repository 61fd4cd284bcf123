#!/usr/bin/env node
// Signs a launcher link, as the service's own tool (vantorima-link sign) does.
//
//   printf '%s' "$PASS" | node sign-link.js --private PRIVATE.pem --id ID --pass - \
//       [--join-key KEY] [--server SERVER] [--ttl SECONDS] [--v N] [--scheme SCHEME]
//
// A reference for services written for Node, with its built-in crypto only.
// The signature is ECDSA P-256 with SHA-256 over the link's exact ASCII bytes
// from the scheme up to, not including, "&sig=", written as the base64url,
// without padding, of r||s: r and s as 32 bytes each, big-endian (IEEE P1363,
// 64 bytes), which is what dsaEncoding 'ieee-p1363' gives (the default, 'der',
// would not do). Check its links with `vantorima-link verify --public PUBLIC.pem LINK`.
'use strict';
const crypto = require('crypto');
const fs = require('fs');

// UTF-8, every byte but A-Z a-z 0-9 - . _ ~ as %XX (encodeURIComponent leaves ! ' ( ) * as they are).
function encode(value) {
  let out = '';
  for (const byte of Buffer.from(value, 'utf8')) {
    const c = String.fromCharCode(byte);
    out += /[A-Za-z0-9\-._~]/.test(c) ? c : '%' + byte.toString(16).toUpperCase().padStart(2, '0');
  }
  return out;
}

// sig= of text: base64url (no padding) of r||s.
function signature(privateKeyPem, text) {
  const rs = crypto.sign('sha256', Buffer.from(text, 'ascii'), { key: privateKeyPem, dsaEncoding: 'ieee-p1363' });
  return rs.toString('base64url');
}

function signLink(privateKeyPem, { id, pass, joinKey = '', server = '', ttl = 120, version = 1, scheme = 'vantorima' }) {
  const fields = [['v', String(version)], ['id', id], ['pass', pass], ['key', joinKey], ['server', server],
    ['exp', String(Math.floor(Date.now() / 1000) + ttl)], ['nonce', crypto.randomBytes(16).toString('hex')]];
  const text = `${scheme}:launch?` + fields.map(([name, value]) => `${name}=${encode(value)}`).join('&');
  return `${text}&sig=${signature(privateKeyPem, text)}`;
}

function main(argv) {
  const options = { '--join-key': '', '--server': '', '--ttl': '120', '--v': '1', '--scheme': 'vantorima' };
  for (let i = 0; i < argv.length; i += 2) {
    if ((!(argv[i] in options) && !['--private', '--id', '--pass'].includes(argv[i])) || i + 1 >= argv.length)
      throw new Error(`unknown or incomplete option ${argv[i]}`);
    options[argv[i]] = argv[i + 1];
  }
  for (const name of ['--private', '--id', '--pass'])
    if (options[name] === undefined) throw new Error(`${name} is required`);
  const pass = options['--pass'] === '-' ? fs.readFileSync(0, 'utf8').split('\n')[0].replace(/\r$/, '') : options['--pass'];
  const key = crypto.createPrivateKey(fs.readFileSync(options['--private']));
  if (key.asymmetricKeyType !== 'ec' || key.asymmetricKeyDetails.namedCurve !== 'prime256v1')
    throw new Error(`${options['--private']}: not a P-256 private key`);
  console.log(signLink(key, { id: options['--id'], pass, joinKey: options['--join-key'], server: options['--server'],
    ttl: Number(options['--ttl']), version: Number(options['--v']), scheme: options['--scheme'] }));
}

if (require.main === module) {
  try {
    main(process.argv.slice(2));
  } catch (e) {
    console.error(`sign-link: ${e.message}`);
    process.exit(1);
  }
}
module.exports = { encode, signature, signLink };
